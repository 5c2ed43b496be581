#include "atomic_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_io.h"

namespace {

mode_t new_file_mode() {
    // The only way to read the umask is to set it; the tool is single-threaded.
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool replace_atomically(const std::string& path, const std::string& data, std::string* error) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkstemp creates a name no one held, with mode 0600 until it is complete.
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        *error = std::string(std::strerror(errno));
        return false;
    }
    bool ok = write_all(fd, data.data(), data.size()) && fchmod(fd, new_file_mode()) == 0;
    int cause = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        cause = errno;
    }
    if (ok && std::rename(name.data(), path.c_str()) != 0) {
        ok = false;
        cause = errno;
    }
    if (!ok) {
        unlink(name.data());
        *error = std::strerror(cause);
    }
    return ok;
}
