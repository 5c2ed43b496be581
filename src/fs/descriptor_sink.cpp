#include "fs/descriptor_sink.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#  include <io.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace {

// At most this much per system call, so no count overflows its type.
constexpr std::size_t k_max_write = 1u << 30;

// Writes a whole piece to the sink's file and, every k_writeback_step, asks
// the disk to start writing what came before. Only a hint: the flush at the
// end waits for everything and reports what failed.
bool write_to_file(descriptor_sink* target, const unsigned char* data, std::size_t size) {
    if (!write_fully(target->fd, data, size)) return false;
    target->written += size;
#ifdef __linux__
    if (target->written - target->writeback_started >= descriptor_sink::k_writeback_step) {
        sync_file_range(target->fd, static_cast<off_t>(target->writeback_started),
                        static_cast<off_t>(target->written - target->writeback_started), SYNC_FILE_RANGE_WRITE);
        target->writeback_started = target->written;
    }
#endif
    return true;
}

void gather_for_descriptor(byte_sink* sink, const void* data, int size) {
    descriptor_sink* target = static_cast<descriptor_sink*>(sink);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::size_t count = static_cast<std::size_t>(size);
    if (target->used + count > descriptor_sink::k_block_size) {
        if (!write_to_file(target, target->block.get(), target->used)) {
            target->failed = true;
            return;
        }
        target->used = 0;
        // A piece as large as a block (the PNG encoder hands over its whole
        // compressed stream at once) goes out directly rather than through
        // the block.
        if (count >= descriptor_sink::k_block_size) {
            if (!write_to_file(target, bytes, count)) target->failed = true;
            return;
        }
    }
    std::memcpy(target->block.get() + target->used, bytes, count);
    target->used += count;
}

}  // namespace

bool write_fully(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = size < k_max_write ? size : k_max_write;
#ifdef _WIN32
        const int n = _write(fd, data, static_cast<unsigned>(chunk));
#else
        const ssize_t n = write(fd, data, chunk);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n < 0) return false;
        if (n == 0) {
            // No progress and no error: treat as the device being full.
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

descriptor_sink::descriptor_sink(int descriptor) : fd(descriptor), block(heap_alloc<unsigned char>(k_block_size)) {
    write = gather_for_descriptor;
    failed = !block;
}

bool descriptor_sink::finish() {
    if (!failed && used > 0 && !write_to_file(this, block.get(), used)) failed = true;
    used = 0;
    return !failed;
}
