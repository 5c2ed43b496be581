#include "batch_plan.h"

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "unwritable_extension.h"

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

std::vector<planned_file> plan_batch(const std::vector<const char*>& inputs, const batch_naming& naming) {
    // The inputs as files, whatever names reach them: an output that is one of
    // them (also through a symbolic link or another spelling of the path)
    // would replace a picture the run still has to read, or its only original.
    std::set<std::pair<dev_t, ino_t>> input_files;
    for (const char* input : inputs) {
        struct stat info;
        if (stat(input, &info) == 0) input_files.emplace(info.st_dev, info.st_ino);
    }

    std::vector<planned_file> plan;
    std::map<std::string, const char*> claimed;  // output path -> the input that writes it
    for (const char* input : inputs) {
        planned_file file{input, batch_output_path(naming.output_dir, input, naming.format), planned_action::run, {}};
        const auto earlier = claimed.emplace(file.output, input);
        struct stat existing;
        const bool exists = lstat(file.output.c_str(), &existing) == 0;
        struct stat target;
        const bool is_an_input = stat(file.output.c_str(), &target) == 0 &&
                                 input_files.count({target.st_dev, target.st_ino}) != 0;
        if (!earlier.second) {
            // Two inputs with one file name would overwrite each other's result.
            file.action = planned_action::refuse;
            file.reason = "'" + file.output + "' is already the output of '" + earlier.first->second + "'";
        } else if (const char* extension = unwritable_extension(file.output.c_str())) {
            file.action = planned_action::refuse;
            file.reason = "cannot write ." + std::string(extension) +
                          " files (the output formats are jpg, png and bmp; --format chooses one)";
        } else if (exists && naming.no_clobber) {
            file.action = planned_action::skip;
        } else if (is_an_input && !naming.overwrite) {
            file.action = planned_action::refuse;
            file.reason = "'" + file.output + "' is one of the inputs; --overwrite replaces it";
        }
        plan.push_back(std::move(file));
    }
    return plan;
}
