#include "cli_run.h"

#include <sys/wait.h>

#include <cstdlib>

cli_outcome run_cli(const scratch_dir& dir, const std::string& arguments) {
    return run_cli_with_stdin(dir, arguments, "/dev/null");
}

cli_outcome run_cli_with_stdin(const scratch_dir& dir, const std::string& arguments, const std::string& stdin_path) {
    const std::string command = std::string("'") + IMGFILTER_CLI + "' " + arguments + " >'" + dir.path("stdout") +
                                "' 2>'" + dir.path("stderr") + "' <'" + stdin_path + "'";
    const int status = std::system(command.c_str());
    const std::vector<uint8_t> out = read_bytes(dir.path("stdout"));
    const std::vector<uint8_t> err = read_bytes(dir.path("stderr"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

std::string quoted(const scratch_dir& dir, const std::string& name) { return "'" + dir.path(name) + "'"; }
