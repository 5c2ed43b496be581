// The nine filters as data: name, parameter kind and worker, in the order of
// the public header. The exported functions take their name and worker from
// here; the tests and the benchmark walk it to reach every filter.
#ifndef IMGFILTER_FILTER_TABLE_H
#define IMGFILTER_FILTER_TABLE_H

#include "common/image.h"
#include "filter_list.h"
#include "simd/code_path.h"

enum class filter_id {
#define IMGFILTER_FILTER_ID(name, kind) name,
    IMGFILTER_FILTERS(IMGFILTER_FILTER_ID)
#undef IMGFILTER_FILTER_ID
};

struct filter_entry {
    filter_id id;
    const char* name;  // as the filter's messages begin, e.g. "edge_detect"
    param_kind kind;
    filter_fn worker;  // thunk_<name>: the fastest code path
    int (*worker_with)(filter_image* image, const void* params, code_path path);
};

extern const filter_entry k_filters[];
constexpr int k_filter_count = 0
#define IMGFILTER_FILTER_COUNT(name, kind) +1
    IMGFILTER_FILTERS(IMGFILTER_FILTER_COUNT)
#undef IMGFILTER_FILTER_COUNT
    ;

inline const filter_entry& filter_of(filter_id id) { return k_filters[static_cast<int>(id)]; }

#endif
