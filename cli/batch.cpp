#include "batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "imgfilter.h"
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

// Output path for an input: OUTDIR/ plus the input's file name, its extension
// replaced by the format's when one is given.
std::string batch_output_path(const std::string& output_dir, const char* input, const char* format) {
    const char* slash = std::strrchr(input, '/');
    std::string name = slash ? slash + 1 : input;
    if (format) {
        // A leading dot starts a hidden file's name, not an extension.
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot != 0) name.erase(dot);
        name += '.';
        name += format;
    }
    if (output_dir.empty() || output_dir.back() == '/') return output_dir + name;
    return output_dir + "/" + name;
}

}  // namespace

int run_batch(const batch_request& request) {
    std::string error;
    if (!ensure_directory(request.output_dir, &error)) {
        std::fprintf(stderr, "imgfilter: %s\n", error.c_str());
        return 1;
    }

    std::vector<job> jobs;
    std::vector<std::size_t> pending;  // indexes of the jobs that run
    std::map<std::string, const char*> claimed;  // output path -> the input that writes it
    for (const char* input : request.inputs) {
        job j;
        j.input = input;
        j.output = batch_output_path(request.output_dir, input, request.format);
        const auto earlier = claimed.emplace(j.output, input);
        if (!earlier.second) {
            // Two inputs with one file name would overwrite each other's result.
            j.result.message = "'" + j.output + "' is already the output of '" + earlier.first->second + "'";
        } else {
            j.before = identify(j.output);
            pending.push_back(jobs.size());
        }
        jobs.push_back(std::move(j));
    }

    const filter_command& command = *request.command;
    progress_bar progress(jobs.size(), !request.quiet && isatty(STDERR_FILENO));
    std::size_t done = jobs.size() - pending.size();
    progress.draw(done);
    const int stop_signal = run_in_worker_processes(
        pending.size(), request.jobs,
        [&](std::size_t i, std::string* message) {
            const job& j = jobs[pending[i]];
            if (command.run(j.input, j.output.c_str(), request.value)) return true;
            *message = imgfilter_last_error();
            return false;
        },
        [&](std::size_t i, const task_result& result) {
            jobs[pending[i]].result = result;
            jobs[pending[i]].finished = true;
            progress.draw(++done);
        },
        [&] { progress.draw(done); });
    progress.finish();

    std::size_t succeeded = 0;
    for (job& j : jobs) {
        if (j.result.interrupted && written_before_the_stop(j)) j.result = {true, {}};
        if (j.result.ok)
            ++succeeded;
        else if (!stop_signal || (j.finished && !j.result.interrupted))
            std::fprintf(stderr, "imgfilter: %s: %s\n", j.input, j.result.message.c_str());
    }
    if (stop_signal) {
        // Whatever was written stays; the files not reached are not failures.
        std::fprintf(stderr, "imgfilter: stopped by signal %d (%s): %zu of %zu files written to %s\n", stop_signal,
                     strsignal(stop_signal), succeeded, jobs.size(), request.output_dir.c_str());
        return 128 + stop_signal;
    }
    if (!request.quiet) {
        char elapsed[32];
        progress.format_elapsed(elapsed, sizeof elapsed);
        std::printf("imgfilter: %zu of %zu files written to %s, %zu failed (%s)\n", succeeded, jobs.size(),
                    request.output_dir.c_str(), jobs.size() - succeeded, elapsed);
    }
    return succeeded == jobs.size() ? 0 : 1;
}
