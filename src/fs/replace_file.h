// Replacing a file whole: the new content goes to a temporary in the target's
// directory that no other call or user can name or open, and becomes the
// target in one rename once it is complete, flushed and given the old file's
// permissions. Killed at any moment, the target is the old file or the new one.
#ifndef IMGFILTER_FS_REPLACE_FILE_H
#define IMGFILTER_FS_REPLACE_FILE_H

#include "fs/output_target.h"

enum class temporary_kind {
    // An anonymous file (Linux O_TMPFILE) where the file system has them,
    // which disappears by itself if the call dies; else a named one.
    anonymous_if_possible,
    // A randomly named hidden file, created exclusively.
    named,
};

enum class temporary_status {
    opened,
    // The directory does not let the caller create a file there.
    forbidden,
    // Any other reason (no space or inodes, read-only file system, no such
    // directory, too many open files, ...).
    failed,
};

class replacement {
public:
    replacement() = default;
    replacement(const replacement&) = delete;
    replacement& operator=(const replacement&) = delete;
    // Removes a temporary that was not committed.
    ~replacement();

    // Creates the temporary for a missing or replaceable target, which must
    // outlive this object.
    temporary_status open(const output_target& target, temporary_kind kind);

    // The temporary, open for writing (a C runtime descriptor on Windows).
    int descriptor() const { return fd_; }

    // Flushes the temporary to the disk, gives it the replaced file's
    // permission bits and, as far as the caller may, its owner and group,
    // and moves it over the target. False leaves the target as it was.
    bool commit();

private:
    const output_target* target_ = nullptr;
    int fd_ = -1;
#ifdef _WIN32
    heap_ptr<wchar_t> temporary_path_;
#else
    int directory_fd_ = -1;
    bool anonymous_ = false;
    // The temporary's name in the directory while it has one, else empty.
    char name_[40] = "";
#endif
};

#endif
