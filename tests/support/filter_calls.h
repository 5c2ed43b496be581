// The exported filter functions reached through the filter table: a parameter
// value of any kind, a call of any filter's function with one, and every filter
// with an ordinary parameter, for the suites that run the same check over all
// filters (allocation failure, concurrency, hostile input).
#ifndef IMGFILTER_FILTER_CALLS_H
#define IMGFILTER_FILTER_CALLS_H

#include <string>
#include <vector>

#include "exported_calls.h"

// A value for the parameter of any filter, which can say what it is.
struct param : filter_param {
    using filter_param::filter_param;
    std::string text(param_kind kind) const;  // for failure messages
};

struct filter_call {
    const char* name;  // the filter name that starts its messages
    int (*run)(const char* input_path, const char* output_path);
};

const std::vector<filter_call>& every_filter();

#endif
