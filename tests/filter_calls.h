// The exported filter functions reached through the filter table: a parameter
// value of any kind, a call of any filter's function with one, and every filter
// with an ordinary parameter, for the suites that run the same check over all
// filters (allocation failure, concurrency, hostile input).
#ifndef IMGFILTER_FILTER_CALLS_H
#define IMGFILTER_FILTER_CALLS_H

#include <string>
#include <vector>

#include "filter_table.h"

// A value for the parameter of any filter; the filter's kind says which member
// is its parameter record.
struct param {
    float real = 0;
    int integer = 0;
    kernel_params grid{nullptr, 0};

    param() = default;
    param(float value) : real(value) {}
    param(int value) : integer(value) {}
    param(const float* weights, int size) : grid{weights, size} {}

    const void* record(param_kind kind) const;
    std::string text(param_kind kind) const;  // for failure messages
};

// The filter's exported function, given the parameter record its worker reads.
int call_exported(filter_id id, const char* input_path, const char* output_path, const void* params);

struct filter_call {
    const char* name;  // the filter name that starts its messages
    int (*run)(const char* input_path, const char* output_path);
};

const std::vector<filter_call>& every_filter();

#endif
