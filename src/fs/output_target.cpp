#include "fs/output_target.h"

#include <cerrno>
#include <climits>
#include <cstring>

#ifdef _WIN32
#  include <windows.h>

#  include "fs/wide_path.h"
#else
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace {

heap_ptr<char> copy_text(const char* text, std::size_t length) {
    heap_ptr<char> copy = heap_alloc<char>(static_cast<unsigned long long>(length) + 1);
    if (!copy) return copy;
    std::memcpy(copy.get(), text, length);
    copy.get()[length] = '\0';
    return copy;
}

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// Splits target->path into its directory and its last component; false when
// that component is empty.
bool split_path(output_target* target) {
    const char* path = target->path.get();
    const char* last = nullptr;
    for (const char* c = path; *c; ++c)
        if (is_separator(*c)) last = c;
    if (!last) {
        target->directory = copy_text(".", 1);
        target->name = path;
    } else {
        // "/x" lives in "/", not in "".
        target->directory = copy_text(path, last == path ? 1 : static_cast<std::size_t>(last - path));
        target->name = last + 1;
    }
    return target->directory && *target->name;
}

#ifndef _WIN32

// Links followed before giving up, as the kernel's own limit.
constexpr int k_max_links = 40;

void remember(output_target* target, const struct stat& info) {
    target->device = static_cast<unsigned long long>(info.st_dev);
    target->inode = static_cast<unsigned long long>(info.st_ino);
    target->mode = static_cast<unsigned>(info.st_mode & 07777);
    target->owner = static_cast<long long>(info.st_uid);
    target->group = static_cast<long long>(info.st_gid);
}

// Follows the symlinks at the end of path one by one, as opening it would,
// each relative link taken from the directory the link is in. Unlike the
// kernel this also tells where a dangling link's target would be. *exists says
// whether something other than a link stands at the end (then *info is it).
bool follow_links(const char* path, heap_ptr<char>* resolved, struct stat* info, bool* exists) {
    heap_ptr<char> current = copy_text(path, std::strlen(path));
    heap_ptr<char> link = heap_alloc<char>(PATH_MAX);
    if (!current || !link) return false;
    for (int step = 0; step <= k_max_links; ++step) {
        if (lstat(current.get(), info) != 0) {
            if (errno != ENOENT) return false;
            *exists = false;
            *resolved = std::move(current);
            return true;
        }
        if (!S_ISLNK(info->st_mode)) {
            *exists = true;
            *resolved = std::move(current);
            return true;
        }
        const ssize_t length = readlink(current.get(), link.get(), PATH_MAX);
        if (length <= 0) return false;
        if (length >= PATH_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::size_t directory_length = 0;
        if (link.get()[0] != '/') {
            if (const char* slash = std::strrchr(current.get(), '/'))
                directory_length = static_cast<std::size_t>(slash - current.get()) + 1;
        }
        heap_ptr<char> next = heap_alloc<char>(directory_length + static_cast<unsigned long long>(length) + 1);
        if (!next) return false;
        std::memcpy(next.get(), current.get(), directory_length);
        std::memcpy(next.get() + directory_length, link.get(), static_cast<std::size_t>(length));
        next.get()[directory_length + static_cast<std::size_t>(length)] = '\0';
        current = std::move(next);
    }
    errno = ELOOP;
    return false;
}

#endif

}  // namespace

bool find_output_target(const char* output_path, output_target* target) {
    const std::size_t length = std::strlen(output_path);
    if (length == 0 || is_separator(output_path[length - 1])) {
        errno = EISDIR;
        return false;
    }
#ifdef _WIN32
    target->path = copy_text(output_path, length);
    if (!target->path) return false;
    heap_ptr<wchar_t> wide = wide_path(output_path);
    if (!wide) return false;
    const DWORD attributes = GetFileAttributesW(wide.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
        target->kind = target_kind::missing;
    } else {
        // Replacing a read-only file would defeat its protection; a directory
        // is no place for an image.
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        target->kind = target_kind::replaceable;
    }
    return split_path(target);
#else
    struct stat seen;  // what opening the path would reach, every link followed
    if (stat(output_path, &seen) != 0) {
        if (errno != ENOENT) return false;
        struct stat info;
        bool exists = false;
        if (!follow_links(output_path, &target->path, &info, &exists)) return false;
        if (exists) {
            // Something appeared while we looked: what it is was not seen.
            errno = EAGAIN;
            return false;
        }
        target->kind = target_kind::missing;
        return split_path(target);
    }
    if (S_ISDIR(seen.st_mode)) {
        errno = EISDIR;
        return false;
    }
    remember(target, seen);
    if (S_ISREG(seen.st_mode) && seen.st_nlink == 1) {
        struct stat info;
        bool exists = false;
        if (!follow_links(output_path, &target->path, &info, &exists)) return false;
        // A link the kernel resolves by other means (a process's descriptor
        // under /proc names a pipe or a deleted file) has no directory to
        // replace the file in; it is written through like a device.
        if (exists && S_ISREG(info.st_mode) && info.st_dev == seen.st_dev && info.st_ino == seen.st_ino) {
            // A file the caller may not write keeps its protection: replacing
            // it would succeed where opening it for writing fails.
            if (faccessat(AT_FDCWD, target->path.get(), W_OK, AT_EACCESS) != 0) return false;
            target->kind = target_kind::replaceable;
            return split_path(target);
        }
    }
    target->kind = target_kind::in_place;
    target->path = copy_text(output_path, length);
    return target->path && split_path(target);
#endif
}
