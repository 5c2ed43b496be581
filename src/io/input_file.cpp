#include <climits>
#include <cstdio>

#include "io/image_file.h"

namespace {

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

bool read_input_file(const char* path, file_bytes* file) {
    std::unique_ptr<std::FILE, file_closer> input(std::fopen(path, "rb"));
    if (!input) return false;
    if (std::fseek(input.get(), 0, SEEK_END) != 0) return false;
    // The decoder takes the length as an int, hence the bound.
    const long length = std::ftell(input.get());
    if (length <= 0 || length > INT_MAX) return false;
    std::rewind(input.get());
    heap_ptr<unsigned char> data = heap_alloc<unsigned char>(static_cast<unsigned long long>(length));
    if (!data) return false;
    const std::size_t got = std::fread(data.get(), 1, static_cast<std::size_t>(length), input.get());
    input.reset();  // closed before the count is looked at, whatever it is
    if (got != static_cast<std::size_t>(length)) return false;
    file->data = std::move(data);
    file->length = static_cast<int>(length);
    return true;
}

image_format detect_format(const unsigned char* bytes, int length) {
    if (length == 1) return image_format::unsupported;
    if (bytes[0] == 0xFF) return bytes[1] == 0xD8 ? image_format::jpeg : image_format::unsupported;
    if (length >= 8 && bytes[0] == 0x89) {
        return bytes[1] == 0x50 && bytes[2] == 0x4E && bytes[3] == 0x47 ? image_format::png
                                                                         : image_format::unsupported;
    }
    if (bytes[0] == 0x42 && bytes[1] == 0x4D) return image_format::bmp;
    return image_format::unsupported;
}
