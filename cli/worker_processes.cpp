#include "worker_processes.h"

#include <poll.h>
#include <sys/prctl.h>
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

// The signals that stop a run; anything else keeps its usual effect.
constexpr int k_stop_signals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void note_stop_signal(int signal) { g_stop_signal = signal; }

// Catches the stop signals for the length of a run and restores what was
// there before. Without SA_RESTART, so a wait in poll() ends at once.
class stop_signals_caught {
public:
    stop_signals_caught() {
        g_stop_signal = 0;
        struct sigaction catching {};
        catching.sa_handler = note_stop_signal;
        sigemptyset(&catching.sa_mask);
        for (std::size_t i = 0; i < k_count; ++i) sigaction(k_stop_signals[i], &catching, &previous_[i]);
    }
    ~stop_signals_caught() {
        for (std::size_t i = 0; i < k_count; ++i) sigaction(k_stop_signals[i], &previous_[i], nullptr);
    }
    stop_signals_caught(const stop_signals_caught&) = delete;
    stop_signals_caught& operator=(const stop_signals_caught&) = delete;

private:
    static constexpr std::size_t k_count = sizeof k_stop_signals / sizeof k_stop_signals[0];
    struct sigaction previous_[k_count];
};

// In a new worker: the stop signals end it as they would any program (the
// library leaves no partial output behind), and it dies with the process that
// started it, even one killed outright.
void become_worker(pid_t parent) {
    for (int signal : k_stop_signals) std::signal(signal, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the request above took effect.
    if (getppid() != parent) _exit(1);
}

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
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot start a worker process: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        become_worker(parent);
        close(fds[0]);
        std::string message;
        const bool ok = task(task_index, &message);
        write_all(fds[1], message);
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
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {true, done.message};
    if (WIFSIGNALED(status))
        return {false,
                std::string("worker process ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
                    strsignal(WTERMSIG(status)) + ")",
                g_stop_signal != 0 && WTERMSIG(status) == g_stop_signal};
    return {false, done.message.empty() ? "failed without a message" : done.message};
}

}  // namespace

int run_in_worker_processes(std::size_t task_count, int max_workers,
                            const std::function<bool(std::size_t, std::string*)>& task,
                            const std::function<void(std::size_t, const task_result&)>& finished,
                            const std::function<void()>& tick) {
    const stop_signals_caught caught;
    std::vector<worker> running;
    std::size_t next = 0;
    bool passed_on = false;
    while ((next < task_count && !g_stop_signal) || !running.empty()) {
        if (g_stop_signal && !passed_on) {
            // Workers already in the terminal's process group got it too.
            for (const worker& w : running) kill(w.pid, g_stop_signal);
            passed_on = true;
        }
        while (!g_stop_signal && next < task_count && running.size() < static_cast<std::size_t>(max_workers)) {
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
    return g_stop_signal;
}
