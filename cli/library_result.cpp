#include "library_result.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "file_io.h"

library_result::~library_result() {
    if (memory_ >= 0) close(memory_);
}

bool library_result::prepare(const private_temp_dir& directory, const char* extension, std::string* error) {
    path_ = directory.path(extension ? std::string("result.") + extension : "result");
    memory_ = memfd_create("imgfilter-result", MFD_CLOEXEC);
    if (memory_ < 0) return true;
    // The library follows the link to a regular file that no directory holds,
    // which it writes in place, as it writes a device.
    const std::string memory_path = "/proc/self/fd/" + std::to_string(memory_);
    struct stat through_link, direct;
    if (stat(memory_path.c_str(), &through_link) == 0 && fstat(memory_, &direct) == 0 &&
        through_link.st_dev == direct.st_dev && through_link.st_ino == direct.st_ino) {
        if (symlink(memory_path.c_str(), path_.c_str()) == 0) return true;
        *error = std::string("cannot make a private file: ") + std::strerror(errno);
        return false;
    }
    close(memory_);  // no /proc here: a private file it is
    memory_ = -1;
    return true;
}

bool library_result::read(std::string* bytes) const {
    if (memory_ < 0) return read_file(path_, SIZE_MAX, bytes);
    struct stat info;
    if (fstat(memory_, &info) != 0) return false;
    bytes->resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = pread(memory_, &(*bytes)[done], bytes->size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // shorter than it was a moment ago
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}
