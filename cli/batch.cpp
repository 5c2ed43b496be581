#include "batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "batch_plan.h"
#include "json_report.h"
#include "progress_bar.h"
#include "worker_processes.h"

namespace {

// What stood at an output path: outputs are replaced whole, so a different
// file there means a new output was written.
struct file_identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
};

file_identity identify(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return {};
    return {true, info.st_dev, info.st_ino};
}

struct job {
    const char* input = nullptr;
    std::string output;
    task_result result{false, {}};
    bool skipped = false;
    bool finished = false;
    file_identity before;
};

// A worker stopped by the signal may have written its output just before it
// could report so.
bool written_before_the_stop(const job& j) {
    const file_identity now = identify(j.output);
    return now.exists && (!j.before.exists || now.device != j.before.device || now.inode != j.before.inode);
}

bool ensure_directory(const std::string& path, std::string* error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return true;
        *error = "'" + path + "' exists and is not a directory";
        return false;
    }
    if (mkdir(path.c_str(), 0777) == 0) return true;
    *error = "cannot create output directory '" + path + "': " + std::strerror(errno);
    return false;
}

}  // namespace

int run_batch(const batch_request& request) {
    std::string error;
    if (!ensure_directory(request.output_dir, &error)) {
        std::fprintf(stderr, "imgfilter: %s\n", error.c_str());
        return 1;
    }

    batch_naming naming;
    naming.output_dir = request.output_dir;
    naming.format = request.format;
    naming.overwrite = request.overwrite;
    naming.no_clobber = request.no_clobber;
    std::vector<job> jobs;
    std::vector<std::size_t> pending;  // indexes of the jobs that run
    for (planned_file& planned : plan_batch(request.inputs, naming)) {
        job j;
        j.input = planned.input;
        j.output = std::move(planned.output);
        j.result.message = std::move(planned.reason);
        j.skipped = planned.action == planned_action::skip;
        j.finished = planned.action != planned_action::run;
        if (planned.action == planned_action::run) {
            j.before = identify(j.output);
            pending.push_back(jobs.size());
        }
        jobs.push_back(std::move(j));
    }
    // The file in hand on the progress bar: the first one not finished (tasks
    // start in order, so it is always one a worker holds).
    std::size_t first_unfinished = 0;
    const auto in_hand = [&]() -> std::string {
        while (first_unfinished < jobs.size() && jobs[first_unfinished].finished) ++first_unfinished;
        return first_unfinished < jobs.size() ? jobs[first_unfinished].input : "";
    };

    const filter_command& command = *request.command;
    progress_bar progress(jobs.size(), !request.quiet && isatty(STDERR_FILENO));
    std::size_t done = jobs.size() - pending.size();
    progress.draw(done, in_hand());
    const int stop_signal = run_in_worker_processes(
        pending.size(), request.jobs,
        [&](std::size_t i, std::string* message) {
            const job& j = jobs[pending[i]];
            bool read_cause = false;  // batch lines always lead with the input's name
            std::string note;
            const bool ok = filter_file(command, request.value, j.input, j.output.c_str(), request.file_options,
                                        message, &read_cause, &note);
            if (ok) *message = note;  // reported with the failures, after the progress bar
            return ok;
        },
        [&](std::size_t i, const task_result& result) {
            jobs[pending[i]].result = result;
            jobs[pending[i]].finished = true;
            progress.draw(++done, in_hand());
        },
        [&] { progress.draw(done, in_hand()); });
    progress.finish();

    std::size_t succeeded = 0, skipped = 0;
    for (job& j : jobs) {
        if (j.result.interrupted && written_before_the_stop(j)) j.result = {true, {}};
        if (j.result.ok && !j.result.message.empty())
            std::fprintf(stderr, "imgfilter: %s: %s\n", j.input, j.result.message.c_str());
        if (j.result.ok)
            ++succeeded;
        else if (j.skipped)
            ++skipped;
        else if (!stop_signal || (j.finished && !j.result.interrupted))
            std::fprintf(stderr, "imgfilter: %s: %s\n", j.input, j.result.message.c_str());
        // After a stop, files not reached are left out of the JSON lines too.
        if (request.json && (!stop_signal || j.result.ok || j.skipped || (j.finished && !j.result.interrupted)))
            print_json_line(stdout, {j.input, j.output, j.result.ok ? "written" : j.skipped ? "skipped" : "failed",
                                     j.result.ok ? std::string() : j.result.message});
    }
    if (stop_signal) {
        // Whatever was written stays; the files not reached are not failures.
        std::fprintf(stderr, "imgfilter: stopped by signal %d (%s): %zu of %zu files written to %s\n", stop_signal,
                     strsignal(stop_signal), succeeded, jobs.size(), request.output_dir.c_str());
        return 128 + stop_signal;
    }
    const std::size_t failed = jobs.size() - succeeded - skipped;
    if (!request.quiet && !request.json) {
        char elapsed[32];
        progress.format_elapsed(elapsed, sizeof elapsed);
        std::string skip_note = skipped ? ", " + std::to_string(skipped) + " skipped (they exist)" : "";
        std::printf("imgfilter: %zu of %zu files written to %s, %zu failed%s (%s)\n", succeeded, jobs.size(),
                    request.output_dir.c_str(), failed, skip_note.c_str(), elapsed);
    }
    return failed == 0 ? 0 : 1;
}
