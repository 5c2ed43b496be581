// Runs the command-line tool as a user would, capturing what it prints.
#ifndef IMGFILTER_TESTS_CLI_RUN_H
#define IMGFILTER_TESTS_CLI_RUN_H

#include <string>

#include "test_support.h"

struct cli_outcome {
    int status;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs IMGFILTER_CLI with the arguments (a shell fragment, quote paths with
// quoted()) and stdout/stderr in files under dir; stdin is not a terminal.
cli_outcome run_cli(const scratch_dir& dir, const std::string& arguments);

// The same with stdin read from the file at stdin_path.
cli_outcome run_cli_with_stdin(const scratch_dir& dir, const std::string& arguments, const std::string& stdin_path);

// A path under dir in single quotes for the shell.
std::string quoted(const scratch_dir& dir, const std::string& name);

#endif
