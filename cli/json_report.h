// The --json summary: one JSON object per file, one per line, in the order of
// the command line, so that a runner spreading work over machines can collect
// what each file became without parsing messages meant for people.
#ifndef IMGFILTER_CLI_JSON_REPORT_H
#define IMGFILTER_CLI_JSON_REPORT_H

#include <cstdio>
#include <string>

// How a file ended: "written", "failed" or "skipped" (--no-clobber).
struct file_outcome {
    std::string input;
    std::string output;
    const char* status;
    std::string message;  // empty when written
};

// {"input":...,"output":...,"status":...,"message":...} and a newline.
void print_json_line(std::FILE* out, const file_outcome& outcome);

// A JSON string literal. File names are bytes, not always UTF-8: a byte that
// does not belong to a valid UTF-8 sequence becomes U+FFFD, so the line stays
// valid JSON.
std::string json_string(const std::string& text);

#endif
