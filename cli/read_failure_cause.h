// Why the system will not let an input be read. The library says only that it
// could not read the file; the tool, which runs where the user is, asks the
// system and puts its answer in front of the library's message.
#ifndef IMGFILTER_CLI_READ_FAILURE_CAUSE_H
#define IMGFILTER_CLI_READ_FAILURE_CAUSE_H

#include <string>

// "No such file or directory", "Permission denied", "Is a directory", "empty
// file"...; empty when the file now looks readable.
std::string read_failure_cause(const char* path);

// The message for a failed call: the library's message as it is, or, when it
// could not read the input and the system says why, "CAUSE (the library's
// message)", *with_cause then set.
std::string failure_message(const char* input, const std::string& library_message, bool* with_cause);

#endif
