#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool write_all(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// Reads until the end or until limit bytes are in *data; *more tells whether
// the file went on past the limit.
bool read_up_to(int fd, std::size_t limit, std::string* data, bool* more) {
    data->clear();
    *more = false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        const std::size_t room = limit - data->size();
        if (static_cast<std::size_t>(n) > room) {
            data->append(buffer, room);
            *more = true;
            return true;
        }
        data->append(buffer, static_cast<std::size_t>(n));
    }
}

// Opens a regular file for reading; -1 with errno set otherwise.
int open_regular(const std::string& path) {
    // Non-blocking open: a FIFO or device named as an image must not hang us;
    // only regular files are read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    if (known && S_ISREG(info.st_mode)) return fd;
    const int cause = !known ? errno : S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    close(fd);
    errno = cause;
    return -1;
}

bool read_regular(const std::string& path, std::size_t limit, std::string* data, bool* more) {
    const int fd = open_regular(path);
    if (fd < 0) return false;
    const bool ok = read_up_to(fd, limit, data, more);
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

}  // namespace

bool read_all(int fd, std::size_t limit, std::string* data) {
    bool more = false;
    if (!read_up_to(fd, limit, data, &more)) return false;
    if (more) errno = EFBIG;
    return !more;
}

bool read_file(const std::string& path, std::size_t limit, std::string* data) {
    bool more = false;
    if (!read_regular(path, limit, data, &more)) return false;
    if (more) errno = EFBIG;
    return !more;
}

bool read_file_start(const std::string& path, std::size_t limit, std::string* data) {
    bool more = false;
    return read_regular(path, limit, data, &more);
}
