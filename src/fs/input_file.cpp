#include "fs/input_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>

#ifndef _WIN32
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>

#  include "fs/descriptor.h"
#endif

namespace {

#ifdef _WIN32

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Windows has no FIFOs or device files that a path reaches by accident; the C
// runtime's calls are enough there.
bool read_whole_file(const char* path, file_bytes* file) {
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

#else

bool read_exactly(int fd, unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file ended early
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Only a regular file has a length known before reading it. Anything else
// (FIFO, device, socket, directory) is refused before it is opened, since
// opening some devices does something by itself; the descriptor is checked
// again, as the path may have changed in between, and opened without waiting,
// as a FIFO's open would wait for a writer.
bool read_whole_file(const char* path, file_bytes* file) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const descriptor input(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int fd = input.get();
    if (fd < 0) return false;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    // The decoder takes the length as an int, hence the bound.
    if (info.st_size <= 0 || info.st_size > INT_MAX) return false;
    const int length = static_cast<int>(info.st_size);
    heap_ptr<unsigned char> data = heap_alloc<unsigned char>(static_cast<unsigned long long>(length));
    if (!data || !read_exactly(fd, data.get(), static_cast<std::size_t>(length))) return false;
    file->data = std::move(data);
    file->length = length;
    return true;
}

#endif

}  // namespace

bool read_input_file(const char* path, file_bytes* file) { return read_whole_file(path, file); }
