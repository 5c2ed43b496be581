#include "read_failure_cause.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string read_failure_cause(const char* path) {
    // Non-blocking, so that a FIFO in the input's place does not hang the report.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    struct stat info;
    std::string cause;
    if (fstat(fd, &info) != 0)
        cause = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        cause = std::strerror(EISDIR);
    else if (!S_ISREG(info.st_mode))
        cause = "not a regular file";
    else if (info.st_size == 0)
        cause = "empty file";
    close(fd);
    return cause;
}

std::string failure_message(const char* input, const std::string& library_message, bool* with_cause) {
    *with_cause = false;
    if (library_message.find(": cannot read input file '") == std::string::npos) return library_message;
    const std::string cause = read_failure_cause(input);
    if (cause.empty()) return library_message;
    *with_cause = true;
    return cause + " (" + library_message + ")";
}
