#include "library_result.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The pieces the result is handed on in: one buffer, filled again and again,
// since every fresh page costs a fault.
constexpr std::size_t k_piece_size = 256 * 1024;

bool read_fully(int fd, std::size_t offset, std::size_t size, char* out) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // shorter than it was a moment ago
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

library_result::~library_result() {
    if (result_ >= 0) close(result_);
}

bool library_result::prepare(const private_temp_dir& directory, const char* extension, std::string* error) {
    path_ = directory.path(extension ? std::string("result.") + extension : "result");
    result_ = memfd_create("imgfilter-result", MFD_CLOEXEC);
    if (result_ < 0) return true;
    // The library follows the link to a regular file that no directory holds,
    // which it writes in place, as it writes a device.
    const std::string memory_path = "/proc/self/fd/" + std::to_string(result_);
    struct stat through_link, direct;
    if (stat(memory_path.c_str(), &through_link) == 0 && fstat(result_, &direct) == 0 &&
        through_link.st_dev == direct.st_dev && through_link.st_ino == direct.st_ino) {
        in_memory_ = true;
        if (symlink(memory_path.c_str(), path_.c_str()) == 0) return true;
        *error = std::string("cannot make a private file: ") + std::strerror(errno);
        return false;
    }
    close(result_);  // no /proc here: a private file it is
    result_ = -1;
    return true;
}

bool library_result::open_written() {
    if (!in_memory_) {
        if (result_ >= 0) close(result_);
        result_ = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (result_ < 0) return false;
    }
    struct stat info;
    if (fstat(result_, &info) != 0) return false;
    size_ = static_cast<std::size_t>(info.st_size);
    return true;
}

bool library_result::read_start(std::size_t count, std::string* bytes) const {
    bytes->resize(std::min(count, size_));
    return read_fully(result_, 0, bytes->size(), &(*bytes)[0]);
}

bool library_result::emit_range(std::size_t from, std::size_t to,
                                const std::function<bool(const char*, std::size_t)>& out, std::string* piece) const {
    for (std::size_t at = from; at < to;) {
        const std::size_t size = std::min(to - at, k_piece_size);
        if (!read_fully(result_, at, size, &(*piece)[0]) || !out(piece->data(), size)) return false;
        at += size;
    }
    return true;
}

bool library_result::emit(const metadata_insertion& insertion,
                          const std::function<bool(const char*, std::size_t)>& out) const {
    std::string piece(std::min(size_, k_piece_size), '\0');
    const std::size_t at = insertion.at && insertion.at <= size_ ? insertion.at : 0;
    if (!emit_range(0, at, out, &piece)) return false;
    if (at && !insertion.bytes.empty() && !out(insertion.bytes.data(), insertion.bytes.size())) return false;
    return emit_range(at, size_, out, &piece);
}
