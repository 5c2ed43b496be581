// The nine filters as data: name, parameter kind, the widest variant of the
// fast path each runs, and worker, in the order of the public header. The
// exported functions take their name and worker from here; the tests and the
// benchmark walk it to reach every filter.
#ifndef IMGFILTER_FILTER_TABLE_H
#define IMGFILTER_FILTER_TABLE_H

#include <cstddef>

#include "common/image.h"
#include "filter_list.h"
#include "filters/filter.h"
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
    code_path widest;  // the widest variant it runs where the processor has it
    filter_fn worker;  // thunk_<name>: worker_with on code_path_of(this), what the exported function runs
    int (*worker_with)(filter_image* image, const void* params, code_path path);
};

// A value for the parameter of any filter; the filter's kind says which
// member is the record its worker reads.
struct filter_param {
    float real = 0;
    int integer = 0;
    kernel_params grid{nullptr, 0};

    constexpr filter_param() = default;
    constexpr filter_param(float value) : real(value) {}
    constexpr filter_param(int value) : integer(value) {}
    constexpr filter_param(const float* weights, int size) : grid{weights, size} {}

    const void* record(param_kind kind) const {
        switch (kind) {
            case param_kind::real: return &real;
            case param_kind::integer: return &integer;
            case param_kind::weights: return &grid;
            case param_kind::none: break;
        }
        return nullptr;
    }
};

constexpr int k_filter_count = 0
#define IMGFILTER_FILTER_COUNT(name, kind) +1
    IMGFILTER_FILTERS(IMGFILTER_FILTER_COUNT)
#undef IMGFILTER_FILTER_COUNT
    ;
extern const filter_entry k_filters[k_filter_count];

inline const filter_entry& filter_of(filter_id id) { return k_filters[static_cast<int>(id)]; }

// The path the filter runs on this processor: the fastest one it has, or the
// filter's widest where the processor has a wider one.
code_path code_path_of(const filter_entry& filter);

// For the tables kept beside the list where values cannot be derived from it
// (the benchmark's parameters, the fuzz targets', the tests'), each row naming
// its filter in a member id: true when every filter has a row, so that a
// filter added to the list does not compile until its rows are written.
template <typename Row, std::size_t rows>
constexpr bool has_row_for_every_filter(const Row (&table)[rows]) {
    for (int f = 0; f < k_filter_count; ++f) {
        bool found = false;
        for (const Row& row : table) found = found || row.id == static_cast<filter_id>(f);
        if (!found) return false;
    }
    return true;
}

#endif
