// Where the library writes a result that the tool completes before it reaches
// the user's path (metadata to add, or standard output to feed): anonymous
// memory (a memfd), which the library reaches through a symlink in the tool's
// private directory whose extension chooses the format. Nothing goes to a disk
// and nothing is flushed; the tool then hands the result on, with its
// metadata inserted, in pieces, without ever copying it whole. Where the
// system has no memfd or no /proc, a file in the private directory stands in.
#ifndef IMGFILTER_CLI_LIBRARY_RESULT_H
#define IMGFILTER_CLI_LIBRARY_RESULT_H

#include <cstddef>
#include <functional>
#include <string>

#include "image_metadata.h"
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

    // Once the library has written: opens what it wrote and takes its size.
    // False with errno set.
    bool open_written();
    std::size_t size() const { return size_; }
    // The first bytes, at most count. False with errno set.
    bool read_start(std::size_t count, std::string* bytes) const;
    // Hands the result to out in pieces, with insertion.bytes inserted at
    // insertion.at (none when at is 0). False when reading failed (errno set)
    // or out returned false.
    bool emit(const metadata_insertion& insertion, const std::function<bool(const char*, std::size_t)>& out) const;

private:
    bool emit_range(std::size_t from, std::size_t to, const std::function<bool(const char*, std::size_t)>& out,
                    std::string* piece) const;

    int result_ = -1;  // the memfd, or the private file once written
    bool in_memory_ = false;
    std::size_t size_ = 0;
    std::string path_;
};

#endif
