// Batch mode: one filter over many input files into one output directory.
#ifndef IMGFILTER_CLI_BATCH_H
#define IMGFILTER_CLI_BATCH_H

#include <string>
#include <vector>

#include "commands.h"
#include "filter_file.h"

struct batch_request {
    const filter_command* command;
    param_value value;
    std::vector<const char*> inputs;
    std::string output_dir;
    const char* format = nullptr;  // "jpg", "png" or "bmp"; NULL keeps each input's name
    int jobs = 1;                  // worker processes at a time
    bool quiet = false;
    bool overwrite = false;   // an output may replace one of the inputs
    bool no_clobber = false;  // existing outputs are skipped
    bool json = false;        // a JSON line per file on stdout instead of the summary
    filter_file_options file_options;
};

// Filters every input, then reports: a line per failure on stderr (and per
// file whose unreadable metadata was left out), a count on stdout (unless
// quiet; with json, a line per file instead). Returns the exit
// status: 0 when every file was written (or skipped), 1 otherwise. SIGINT,
// SIGTERM or SIGHUP stops the run once the running workers have ended (see
// run_in_worker_processes): the outputs written so far stay, the count goes to
// stderr, and the status is 128 plus the signal's number.
int run_batch(const batch_request& request);

#endif
