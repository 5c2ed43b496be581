// Runs numbered tasks in child processes, at most a given number at a time.
// The library keeps one error message per process and starts no threads, so
// parallel filtering means separate processes; a crash inside one file's call
// then costs only that file.
#ifndef IMGFILTER_CLI_WORKER_PROCESSES_H
#define IMGFILTER_CLI_WORKER_PROCESSES_H

#include <cstddef>
#include <functional>
#include <string>

struct task_result {
    bool ok;
    std::string message;  // why it failed; after a success, what the task noted (often nothing)
    // The worker was ended by the signal that stopped the run, not by its task.
    bool interrupted = false;
};

// task(i) runs in a forked child and returns success, filling *message on
// failure (and on success when it has something to note). finished(i,
// result) and tick() run in the calling process: the first once per task as
// it ends, the second a few times a second and after every finished task.
//
// SIGINT, SIGTERM or SIGHUP stops the run: no further task starts, the signal
// is passed on to the running workers and each is waited for (its finished()
// still runs). The result is that signal, or 0 when every task ran. A worker
// never outlives the calling process, however that ends.
int run_in_worker_processes(std::size_t task_count, int max_workers,
                             const std::function<bool(std::size_t, std::string*)>& task,
                             const std::function<void(std::size_t, const task_result&)>& finished,
                             const std::function<void()>& tick);

#endif
