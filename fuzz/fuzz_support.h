// What the library's two fuzz targets share: a private scratch directory, the contract that
// every filter call must keep, and aborting loudly when it does not.
#ifndef IMGFILTER_FUZZ_SUPPORT_H
#define IMGFILTER_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

// A directory made once per process and the path of a name inside it.
std::string scratch_path(const char* name);

// Writes the bytes to the path; aborts when it cannot (a broken harness).
void write_file(const std::string& path, const uint8_t* data, std::size_t size);

// Checks one finished call: result 1 with an empty message and an output file
// that decodes (to width x height when both are given as non-negative), or
// result 0 with a message that starts with the filter's name and ": " and no
// output file at all. Removes the output. Aborts with a description otherwise.
void check_contract(const char* filter, int result, const std::string& output, int width = -1, int height = -1);

#endif
