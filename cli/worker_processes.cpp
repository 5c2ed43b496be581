#include "worker_processes.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// How often the caller's tick runs while no task finishes (the elapsed time on
// the progress bar moves at this pace).
constexpr int k_tick_ms = 250;

struct worker {
    pid_t pid;
    int message_fd;  // read end of the pipe the child writes its message into
    std::size_t task;
    std::string message;
};

bool write_all(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Forks a worker for one task. The child reports its failure text through the
// pipe and leaves with _exit, so the stdio buffers it inherited are never
// flushed a second time.
bool start_worker(std::size_t task_index, const std::function<bool(std::size_t, std::string*)>& task,
                  worker* started, std::string* error) {
    int fds[2];
    if (pipe(fds) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot start a worker process: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        std::string message;
        const bool ok = task(task_index, &message);
        if (!ok) write_all(fds[1], message);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    *started = worker{pid, fds[0], task_index, {}};
    return true;
}

task_result collect(worker& done) {
    close(done.message_fd);
    int status = 0;
    while (waitpid(done.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {true, {}};
    if (WIFSIGNALED(status))
        return {false, std::string("worker process ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
                           strsignal(WTERMSIG(status)) + ")"};
    return {false, done.message.empty() ? "failed without a message" : done.message};
}

}  // namespace

void run_in_worker_processes(std::size_t task_count, int max_workers,
                             const std::function<bool(std::size_t, std::string*)>& task,
                             const std::function<void(std::size_t, const task_result&)>& finished,
                             const std::function<void()>& tick) {
    std::vector<worker> running;
    std::size_t next = 0;
    while (next < task_count || !running.empty()) {
        while (next < task_count && running.size() < static_cast<std::size_t>(max_workers)) {
            worker started{};
            std::string error;
            if (!start_worker(next, task, &started, &error)) {
                // Out of processes: wait for a running worker to end and retry;
                // with none running, this task cannot be done at all.
                if (!running.empty()) break;
                finished(next++, {false, error});
                continue;
            }
            running.push_back(std::move(started));
            ++next;
        }
        if (running.empty()) continue;

        std::vector<pollfd> fds;
        for (const worker& w : running) fds.push_back({w.message_fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), k_tick_ms) < 0) {
            // Nothing to learn from the error: fall back to blocking reads,
            // which return either the message or end of file.
            for (pollfd& fd : fds) fd.revents = errno == EINTR ? 0 : POLLIN;
        }
        // A pipe reaches end of file when its child has exited (it held the
        // only write end), so reading to EOF is how a finished worker shows up.
        for (std::size_t i = running.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[1024];
            const ssize_t n = read(running[i].message_fd, buffer, sizeof buffer);
            if (n > 0) {
                running[i].message.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            const task_result result = collect(running[i]);
            const std::size_t index = running[i].task;
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            finished(index, result);
        }
        tick();
    }
}
