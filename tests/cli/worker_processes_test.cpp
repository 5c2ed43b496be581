// The tool's worker-process runner: every task ends exactly once, with its own
// outcome, however many workers run at a time and however a worker ends.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <string>

#include "test_support.h"
#include "worker_processes.h"

namespace {

std::map<std::size_t, task_result> run_all(std::size_t count, int workers,
                                           const std::function<bool(std::size_t, std::string*)>& task) {
    std::map<std::size_t, task_result> results;
    run_in_worker_processes(
        count, workers, task,
        [&](std::size_t i, const task_result& result) {
            EXPECT_TRUE(results.emplace(i, result).second) << "task " << i << " finished twice";
        },
        [] {});
    return results;
}

}  // namespace

TEST(WorkerProcesses, EachTaskEndsOnceWithItsOwnOutcome) {
    for (int workers : {1, 3, 16}) {
        SCOPED_TRACE(workers);
        // A success may note something too; most say nothing.
        const auto message_of = [](std::size_t i) {
            return i % 3 != 0 ? "task " + std::to_string(i) + " failed" : i == 3 ? "task 3 noted" : "";
        };
        const auto results = run_all(10, workers, [&](std::size_t i, std::string* message) {
            *message = message_of(i);
            return i % 3 == 0;
        });
        ASSERT_EQ(results.size(), 10u);
        for (const auto& [i, result] : results) {
            EXPECT_EQ(result.ok, i % 3 == 0) << i;
            EXPECT_EQ(result.message, message_of(i));
        }
    }
}

TEST(WorkerProcesses, TasksRunInChildProcesses) {
    // Nothing a task does reaches the caller's process, only its outcome.
    const pid_t parent = getpid();
    int touched = 0;
    const auto results = run_all(4, 2, [&](std::size_t, std::string* message) {
        ++touched;
        *message = getpid() == parent ? "ran in the caller" : "";
        return getpid() != parent;
    });
    EXPECT_EQ(touched, 0);
    for (const auto& [i, result] : results) EXPECT_TRUE(result.ok) << i << ": " << result.message;
}

TEST(WorkerProcesses, AWorkerThatDiesIsAFailureOfItsTaskOnly) {
    const auto results = run_all(3, 2, [](std::size_t i, std::string* message) {
        if (i == 1) std::abort();
        if (i == 2) {
            // Killed before it could report: what it meant to say is lost, its
            // death is what the caller learns.
            *message = "never sent";
            raise(SIGKILL);
        }
        return true;
    });
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(results.at(0).ok);
    EXPECT_FALSE(results.at(1).ok);
    EXPECT_EQ(results.at(1).message.rfind("worker process ended by signal " + std::to_string(SIGABRT) + " (", 0), 0u)
        << results.at(1).message;
    EXPECT_FALSE(results.at(2).ok);
    EXPECT_EQ(results.at(2).message.rfind("worker process ended by signal " + std::to_string(SIGKILL) + " (", 0), 0u)
        << results.at(2).message;
}

TEST(WorkerProcesses, LongMessagesArriveWhole) {
    // Longer than a pipe's buffer, so the runner must read while the child writes.
    const std::string long_message(200000, 'm');
    const auto results = run_all(2, 2, [&](std::size_t, std::string* message) {
        *message = long_message;
        return false;
    });
    for (const auto& [i, result] : results) EXPECT_EQ(result.message, long_message) << i;
}

TEST(WorkerProcesses, NoTasksNoWorkers) { EXPECT_TRUE(run_all(0, 4, [](std::size_t, std::string*) { return true; }).empty()); }
