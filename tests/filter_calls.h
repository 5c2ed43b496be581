// Every filter entry point with ordinary parameters, as one list, for the suites
// that run the same check over all filters (allocation failure, concurrency).
#ifndef IMGFILTER_FILTER_CALLS_H
#define IMGFILTER_FILTER_CALLS_H

#include <vector>

struct filter_call {
    const char* name;  // the filter name that starts its messages
    int (*run)(const char* input_path, const char* output_path);
};

const std::vector<filter_call>& every_filter();

#endif
