#include "fs/write_output.h"

#include <cerrno>

#include "common/memory_sink.h"
#include "fs/descriptor_sink.h"
#include "fs/output_target.h"
#include "fs/replace_file.h"

#ifndef _WIN32
#  include <fcntl.h>
#  include <signal.h>
#  include <sys/resource.h>
#  include <sys/stat.h>
#  include <unistd.h>

#  include "fs/descriptor.h"
#endif

namespace {

#ifndef _WIN32

// A reader that goes away from a FIFO would otherwise kill the host with
// SIGPIPE; the write reports EPIPE instead. The signal is held back on this
// thread for the write and, if the write raised it, taken away again.
class sigpipe_held {
public:
    sigpipe_held() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        held_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~sigpipe_held() {
        if (!held_) return;
        if (!was_pending_) {
            const timespec now{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    sigpipe_held(const sigpipe_held&) = delete;
    sigpipe_held& operator=(const sigpipe_held&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool was_pending_ = false;
    bool held_ = false;
};

// A regular file about to be overwritten in place must take the whole new
// content, or a failure would leave it cut short. Space the file system can
// reserve without changing the file, and the process's file-size limit, are
// checked before the first byte goes out.
bool room_for(int fd, std::size_t size) {
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && size > limit.rlim_cur) {
        errno = EFBIG;
        return false;
    }
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return true;
    // A file system that cannot reserve space is written without.
    return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL;
}

// Writes the content over what stands at the path, as opening it for writing
// would, but only into the very file that was looked at.
bool write_in_place(const output_target& target, const memory_sink& content) {
    // A regular file written in place only because its directory forbids a
    // new one is opened without following a link or waiting on a FIFO that
    // might have been put there since; it must still be that file.
    const bool regular_fallback = target.kind == target_kind::replaceable;
    const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (regular_fallback ? O_NOFOLLOW | O_NONBLOCK : 0);
    descriptor file(open(target.path.get(), flags));
    if (file.get() < 0) return false;
    struct stat info;
    if (fstat(file.get(), &info) != 0) return false;
    if (static_cast<unsigned long long>(info.st_dev) != target.device ||
        static_cast<unsigned long long>(info.st_ino) != target.inode) {
        errno = EAGAIN;
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        if (!room_for(file.get(), content.size)) return false;
        if (!write_fully(file.get(), content.data.get(), content.size)) return false;
        if (ftruncate(file.get(), static_cast<off_t>(content.size)) != 0 || fsync(file.get()) != 0) return false;
    } else {
        const sigpipe_held held;
        if (!write_fully(file.get(), content.data.get(), content.size)) return false;
        if (S_ISBLK(info.st_mode) && fsync(file.get()) != 0) return false;
    }
    return file.close_checked();
}

#endif

bool produce_then_write_in_place(const output_target& target, const file_content& content) {
#ifdef _WIN32
    // Windows targets are always replaced; there is nothing to write through.
    static_cast<void>(target);
    static_cast<void>(content);
    return false;
#else
    memory_sink produced;
    if (!content.produce(content.source, &produced) || produced.failed) return false;
    return write_in_place(target, produced);
#endif
}

}  // namespace

bool write_output(const char* output_path, const file_content& content) {
    output_target target;
    if (!find_output_target(output_path, &target)) return false;
    if (target.kind == target_kind::in_place) return produce_then_write_in_place(target, content);

    replacement temporary;
    switch (temporary.open(target, temporary_kind::anonymous_if_possible)) {
        case temporary_status::opened: {
            descriptor_sink sink(temporary.descriptor());
            if (!content.produce(content.source, &sink) || !sink.finish()) return false;
            return temporary.commit();
        }
        case temporary_status::forbidden:
            // The one way to write a regular file in place: its directory takes
            // no new file, but the file itself may be written.
            return target.kind == target_kind::replaceable && produce_then_write_in_place(target, content);
        case temporary_status::failed: break;
    }
    return false;
}
