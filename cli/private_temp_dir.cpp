#include "private_temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_io.h"

private_temp_dir::~private_temp_dir() {
    if (path_.empty()) return;
    // Only this process writes here and it makes no subdirectories, so the
    // entries are plain files (or the library's leftovers beside its output).
    if (DIR* dir = opendir(path_.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        closedir(dir);
        for (const std::string& name : names) unlink(path(name).c_str());
    }
    rmdir(path_.c_str());
}

bool private_temp_dir::create(std::string* error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base && *base ? base : "/tmp";
    pattern += "/imgfilter-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp makes the directory with mode 0700 under a name no one held.
    if (!mkdtemp(name.data())) {
        *error = std::string("cannot create a temporary directory: ") + std::strerror(errno);
        return false;
    }
    path_ = name.data();
    return true;
}

bool write_private_file(const std::string& path, const std::string& data, std::string* error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = "cannot create '" + path + "': " + std::strerror(errno);
        return false;
    }
    const bool written = write_all(fd, data.data(), data.size());
    const int write_errno = errno;
    if (close(fd) != 0 || !written) {
        *error = "cannot write '" + path + "': " + std::strerror(written ? errno : write_errno);
        return false;
    }
    return true;
}
