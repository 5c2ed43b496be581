// The filters the tool knows: the library's list of filters (name, kind of
// parameter, exported function) with the tool's own words for each.
#ifndef IMGFILTER_CLI_COMMANDS_H
#define IMGFILTER_CLI_COMMANDS_H

#include <cstddef>

#include "filter_list.h"

struct param_value {
    float real = 0.0f;
    int integer = 0;
    float weights[25] = {};
    int weight_count = 0;
};

struct filter_command {
    const char* name;           // the subcommand, e.g. "edge-detect"
    const char* summary;        // one line for the overview
    param_kind kind;            // at most one parameter per filter
    const char* flag;           // "--radius"; NULL when kind is none
    const char* range;          // valid values, as the library checks them
    const char* default_value;  // used when the flag is absent; NULL: required
    const char* details;        // the paragraph of "imgfilter FILTER --help"
    int (*run)(const char* input, const char* output, const param_value& value);
};

extern const filter_command k_commands[];
extern const std::size_t k_command_count;

#endif
