// One file through one filter, as the tool does it around the library call:
// "-" for standard input or output, and the input's metadata carried into the
// output. Single runs and batch workers both go through here.
#ifndef IMGFILTER_CLI_FILTER_FILE_H
#define IMGFILTER_CLI_FILTER_FILE_H

#include <string>

#include "commands.h"
#include "image_metadata.h"

struct filter_file_options {
    metadata_policy metadata = metadata_policy::usual;
    // For output "-": "jpg", "png" or "bmp"; NULL keeps the input's format.
    const char* stdout_format = nullptr;
};

// Filters input into output; false with the reason in *message (the library's
// message, its temporary paths shown as the user's "-", with the system's
// cause in front when the input could not be read, *read_cause then set).
// Nothing reaches standard output unless the whole result is ready.
// *note says which of the input's metadata was left out as unreadable (empty
// when none was): the file is filtered all the same.
bool filter_file(const filter_command& command, const param_value& value, const char* input, const char* output,
                 const filter_file_options& options, std::string* message, bool* read_cause, std::string* note);

#endif
