// Batch mode's decisions made before any file is filtered: each input's
// output name, and whether it runs, is skipped (--no-clobber and an existing
// output) or is refused (two inputs with one output name, an output name
// whose extension asks for a format not written here, an output that is one
// of the run's own inputs without --overwrite).
#ifndef IMGFILTER_CLI_BATCH_PLAN_H
#define IMGFILTER_CLI_BATCH_PLAN_H

#include <string>
#include <vector>

enum class planned_action { run, skip, refuse };

struct planned_file {
    const char* input;
    std::string output;
    planned_action action;
    std::string reason;  // why it is refused
};

struct batch_naming {
    std::string output_dir;
    const char* format = nullptr;  // replaces each name's extension when set
    bool overwrite = false;        // an output may be one of the inputs
    bool no_clobber = false;       // an existing output is left alone
};

std::vector<planned_file> plan_batch(const std::vector<const char*>& inputs, const batch_naming& naming);

// Output path for an input: OUTDIR/ plus the input's file name, its extension
// replaced by the format's when one is given.
std::string batch_output_path(const std::string& output_dir, const char* input, const char* format);

#endif
