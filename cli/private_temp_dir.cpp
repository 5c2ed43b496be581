#include "private_temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_io.h"

namespace {

// The directory to remove if a signal ends the process while it exists (one at
// a time: the tool holds at most one such directory at once), and the actions
// the signals had before.
char s_signal_path[4096];
constexpr int k_stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction s_previous[sizeof k_stop_signals / sizeof k_stop_signals[0]];

// Runs in a signal handler, so only system calls: the directory is listed with
// getdents64 rather than readdir, which may allocate.
void remove_on_signal(int signal_number) {
    const int dir = open(s_signal_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        alignas(8) char entries[4096];
        long got;
        while ((got = syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0) {
            for (long at = 0; at < got;) {
                // struct linux_dirent64: inode (8), offset (8), length (2), type (1), name.
                unsigned short length;
                std::memcpy(&length, entries + at + 16, sizeof length);
                const char* name = entries + at + 19;
                if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) unlinkat(dir, name, 0);
                at += length;
            }
        }
        close(dir);
    }
    rmdir(s_signal_path);
    // Then end as the signal would have ended the process.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

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
    // Only now that the directory is gone: a signal meanwhile still removes it.
    if (removes_on_signal_) {
        for (std::size_t i = 0; i < sizeof k_stop_signals / sizeof k_stop_signals[0]; ++i)
            sigaction(k_stop_signals[i], &s_previous[i], nullptr);
        s_signal_path[0] = '\0';
    }
}

bool private_temp_dir::create(std::string* error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base && *base ? base : "/tmp";
    pattern += "/imgfilter-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // The stop signals wait while the directory comes into being and its
    // removal on a signal is set up, so none can end the process in between.
    sigset_t stops, previous_mask;
    sigemptyset(&stops);
    for (int stop : k_stop_signals) sigaddset(&stops, stop);
    sigprocmask(SIG_BLOCK, &stops, &previous_mask);
    // mkdtemp makes the directory with mode 0700 under a name no one held.
    if (!mkdtemp(name.data())) {
        const int failure = errno;
        sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
        *error = std::string("cannot create a temporary directory: ") + std::strerror(failure);
        return false;
    }
    path_ = name.data();
    // A signal that ends the process must not leave the private copy of the
    // input or the result behind; a handler the caller installed (batch mode's)
    // is kept, and so is an ignored signal.
    if (!s_signal_path[0] && path_.size() < sizeof s_signal_path) {
        std::memcpy(s_signal_path, path_.c_str(), path_.size() + 1);
        removes_on_signal_ = true;
        struct sigaction action {};
        action.sa_handler = remove_on_signal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < sizeof k_stop_signals / sizeof k_stop_signals[0]; ++i) {
            sigaction(k_stop_signals[i], nullptr, &s_previous[i]);
            if (s_previous[i].sa_handler == SIG_DFL) sigaction(k_stop_signals[i], &action, nullptr);
        }
    }
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
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
