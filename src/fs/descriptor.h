// An owner for a POSIX file descriptor: closed when the owner goes, or on
// request with the result checked (a write may only fail at close).
#ifndef IMGFILTER_FS_DESCRIPTOR_H
#define IMGFILTER_FS_DESCRIPTOR_H

#include <unistd.h>

class descriptor {
public:
    explicit descriptor(int fd) : fd_(fd) {}
    ~descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const { return fd_; }
    bool close_checked() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

#endif
