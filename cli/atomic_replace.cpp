#include "atomic_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool find_replace_target(const char* output, replace_target* target) {
    struct stat link;
    if (lstat(output, &link) != 0) {
        if (errno != ENOENT) return false;
        target->path = output;  // a new file
        target->exists = false;
        return true;
    }
    if (S_ISLNK(link.st_mode)) {
        // Follow the chain to an existing file; a dangling or looping link
        // is left to the library, which knows how to create its target.
        char resolved[PATH_MAX];
        if (!realpath(output, resolved)) return false;
        target->path = resolved;
    } else {
        target->path = output;
    }
    if (stat(target->path.c_str(), &target->old) != 0) return false;
    if (!S_ISREG(target->old.st_mode) || target->old.st_nlink != 1) return false;
    if (access(target->path.c_str(), W_OK) != 0) return false;
    target->exists = true;
    return true;
}

bool replace_atomically(const replace_target& target, const std::string& data, std::string* error) {
    std::string pattern = directory_of(target.path) + "/.imgfilter-XXXXXX.tmp";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkstemps creates a name no one held, with mode 0600 until it is complete.
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    bool ok = write_all(fd, data.data(), data.size());
    if (ok && target.exists) {
        // The old owner and group where we may (root may; others keep their
        // own), then its permission bits; set-id bits only with both kept.
        const bool owned = fchown(fd, target.old.st_uid, target.old.st_gid) == 0;
        ok = fchmod(fd, target.old.st_mode & (owned ? 07777 : 0777)) == 0;
    } else if (ok) {
        ok = fchmod(fd, new_file_mode()) == 0;
    }
    ok = ok && fsync(fd) == 0;
    int cause = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        cause = errno;
    }
    if (ok && std::rename(name.data(), target.path.c_str()) != 0) {
        ok = false;
        cause = errno;
    }
    if (!ok) {
        unlink(name.data());
        *error = std::strerror(cause);
    }
    return ok;
}
