// Where the library writes a result that the tool completes before it reaches
// the user's path (metadata to add, or standard output to feed): anonymous
// memory (a memfd), which the library reaches through a symlink in the tool's
// private directory whose extension chooses the format. Nothing goes to a disk
// and nothing is flushed; the tool then writes the finished file once. Where
// the system has no memfd or no /proc, a file in the private directory stands
// in.
#ifndef IMGFILTER_CLI_LIBRARY_RESULT_H
#define IMGFILTER_CLI_LIBRARY_RESULT_H

#include <string>

#include "private_temp_dir.h"

class library_result {
public:
    library_result() = default;
    ~library_result();
    library_result(const library_result&) = delete;
    library_result& operator=(const library_result&) = delete;

    // Makes the place, named "result.EXTENSION" (or "result" for a NULL
    // extension) in the created directory. False with the reason in *error.
    bool prepare(const private_temp_dir& directory, const char* extension, std::string* error);
    // The output path to give the library.
    const std::string& path() const { return path_; }
    // What the library wrote there. False with errno set.
    bool read(std::string* bytes) const;

private:
    int memory_ = -1;
    std::string path_;
};

#endif
