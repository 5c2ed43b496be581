#include "common/memory_sink.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void append_to_memory(byte_sink* sink, const void* data, int size) {
    memory_sink* target = static_cast<memory_sink*>(sink);
    const std::size_t count = static_cast<std::size_t>(size);
    if (count > target->capacity - target->size) {
        std::size_t capacity = target->capacity ? target->capacity : 64 * 1024;
        while (capacity - target->size < count) {
            if (capacity > SIZE_MAX / 2) {
                target->failed = true;
                return;
            }
            capacity *= 2;
        }
        void* grown = std::realloc(target->data.get(), capacity);
        if (!grown) {
            target->failed = true;
            return;
        }
        target->data.release();
        target->data.reset(static_cast<unsigned char*>(grown));
        target->capacity = capacity;
    }
    std::memcpy(target->data.get() + target->size, data, count);
    target->size += count;
}

}  // namespace

memory_sink::memory_sink() {
    write = append_to_memory;
    failed = false;
}
