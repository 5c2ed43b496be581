#include "fs/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdint>

#ifdef _WIN32
#  include <fcntl.h>
#  include <io.h>
#  include <windows.h>

#  include "fs/wide_path.h"
#else
#  include <fcntl.h>
#  include <sys/random.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace {

// Names tried before giving up; each is taken only if nobody holds it, so a
// planted name costs a retry, never a file.
constexpr int k_name_attempts = 16;

// A name that another user cannot foresee and plant a file or link under.
unsigned long long random_bits() {
    unsigned long long bits = 0;
#ifdef _WIN32
    // No system randomness without another DLL: the clock, the process and a
    // counter make names unlikely to repeat, and the exclusive create makes a
    // repeat harmless.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    bits = static_cast<unsigned long long>(now.QuadPart) ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 40);
#else
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // Too early after boot for the kernel's pool: the same fallback as above.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<unsigned long long>(now.tv_sec) * 1000000007ull + static_cast<unsigned long long>(now.tv_nsec);
    bits ^= static_cast<unsigned long long>(getpid()) << 40;
#endif
    static unsigned long long counter = 0;
    return bits + ++counter * 0x9E3779B97F4A7C15ull;
}

void random_name(char* name, std::size_t size) {
    std::snprintf(name, size, ".imgfilter-%016llx.tmp", random_bits());
}

}  // namespace

#ifdef _WIN32

replacement::~replacement() {
    if (fd_ >= 0) _close(fd_);
    if (temporary_path_) DeleteFileW(temporary_path_.get());
}

temporary_status replacement::open(const output_target& target, temporary_kind) {
    target_ = &target;
    const std::size_t directory_length = std::strlen(target.directory.get());
    heap_ptr<char> path = heap_alloc<char>(directory_length + 48);
    if (!path) return temporary_status::failed;
    for (int attempt = 0; attempt < k_name_attempts; ++attempt) {
        char name[40];
        random_name(name, sizeof name);
        std::snprintf(path.get(), directory_length + 48, "%s\\%s", target.directory.get(), name);
        heap_ptr<wchar_t> wide = wide_path(path.get());
        if (!wide) return temporary_status::failed;
        const HANDLE file = CreateFileW(wide.get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            // A directory that refuses new files gets no write in place: on
            // Windows the only way there would be through a guessed name.
            return temporary_status::failed;
        }
        fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
        if (fd_ < 0) {
            CloseHandle(file);
            DeleteFileW(wide.get());
            return temporary_status::failed;
        }
        temporary_path_ = std::move(wide);
        return temporary_status::opened;
    }
    return temporary_status::failed;
}

bool replacement::commit() {
    const bool flushed = _commit(fd_) == 0;
    const bool closed = _close(fd_) == 0;
    fd_ = -1;
    if (!flushed || !closed) return false;
    heap_ptr<wchar_t> target = wide_path(target_->path.get());
    if (!target) return false;
    // ReplaceFileW keeps the replaced file's attributes, security and
    // creation time; a new name is taken with a plain move, which refuses to
    // overwrite one that appeared meanwhile, so that one is replaced instead.
    // The attributes are also set again afterwards, for the systems that
    // emulate ReplaceFileW with a plain move.
    const DWORD attributes = GetFileAttributesW(target.get());
    bool moved = false;
    if (target_->kind == target_kind::missing)
        moved = MoveFileExW(temporary_path_.get(), target.get(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved)
        moved = ReplaceFileW(target.get(), temporary_path_.get(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                             nullptr) != 0;
    if (!moved && GetLastError() == ERROR_FILE_NOT_FOUND)
        moved = MoveFileExW(temporary_path_.get(), target.get(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved) return false;
    temporary_path_.reset();
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(target.get(), attributes);
    return true;
}

#else

replacement::~replacement() {
    if (fd_ >= 0) close(fd_);
    if (name_[0]) unlinkat(directory_fd_, name_, 0);
    if (directory_fd_ >= 0) close(directory_fd_);
}

namespace {

temporary_status failure_status() {
    return errno == EACCES || errno == EPERM ? temporary_status::forbidden : temporary_status::failed;
}

// The anonymous file's name under /proc, through which it gets a link.
void descriptor_path(int fd, char* path, std::size_t size) { std::snprintf(path, size, "/proc/self/fd/%d", fd); }

}  // namespace

temporary_status replacement::open(const output_target& target, temporary_kind kind) {
    target_ = &target;
    directory_fd_ = ::open(target.directory.get(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory_fd_ < 0) return failure_status();
    // A replacement stays private until it has the old file's permissions;
    // a new file may have a new file's mode (the umask and the directory's
    // default ACL applied) from the start, as it shows nothing the finished
    // file will not.
    const mode_t mode = target.kind == target_kind::missing ? 0666 : 0600;

    if (kind == temporary_kind::anonymous_if_possible) {
        const int fd = openat(directory_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            char path[40];
            descriptor_path(fd, path, sizeof path);
            if (access(path, F_OK) == 0) {
                fd_ = fd;
                anonymous_ = true;
                return temporary_status::opened;
            }
            // No /proc to link it in through: a named file then.
            close(fd);
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            // The file system has anonymous files but cannot make one now.
            return failure_status();
        }
    }

    for (int attempt = 0; attempt < k_name_attempts; ++attempt) {
        random_name(name_, sizeof name_);
        fd_ = openat(directory_fd_, name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd_ >= 0) return temporary_status::opened;
        const int error = errno;
        name_[0] = '\0';
        errno = error;
        if (errno != EEXIST) return failure_status();
    }
    return temporary_status::failed;
}

bool replacement::commit() {
    if (target_->kind == target_kind::replaceable) {
        // Ownership first: changing it clears the set-id bits. Those are kept
        // only on a file that still has its owner and group.
        mode_t mode = static_cast<mode_t>(target_->mode);
        if (fchown(fd_, static_cast<uid_t>(target_->owner), static_cast<gid_t>(target_->group)) != 0) {
            mode &= 0777;
            // Someone else's file: the group may still be one of the caller's.
            // Whether it could be kept changes nothing else.
            const int group_kept = fchown(fd_, static_cast<uid_t>(-1), static_cast<gid_t>(target_->group));
            static_cast<void>(group_kept);
        }
        if (fchmod(fd_, mode) != 0) return false;
    }
    if (fsync(fd_) != 0) return false;

    if (anonymous_) {
        char path[40];
        descriptor_path(fd_, path, sizeof path);
        // A new file is linked in under its own name at once; only a name
        // that exists needs a second name to be renamed over it.
        if (target_->kind == target_kind::missing &&
            linkat(AT_FDCWD, path, directory_fd_, target_->name, AT_SYMLINK_FOLLOW) == 0)
            return true;
        for (int attempt = 0; attempt < k_name_attempts && !name_[0]; ++attempt) {
            random_name(name_, sizeof name_);
            if (linkat(AT_FDCWD, path, directory_fd_, name_, AT_SYMLINK_FOLLOW) != 0) {
                const bool taken = errno == EEXIST;
                name_[0] = '\0';
                if (!taken) return false;
            }
        }
        if (!name_[0]) return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return false;
    if (renameat(directory_fd_, name_, directory_fd_, target_->name) != 0) return false;
    name_[0] = '\0';
    return true;
}

#endif
