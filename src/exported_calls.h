// Each filter's exported function reached by its id, for the programs around
// the library that run every filter through its exported function: the tests,
// the benchmark and the fuzz targets. The library itself does not use it.
#ifndef IMGFILTER_EXPORTED_CALLS_H
#define IMGFILTER_EXPORTED_CALLS_H

#include "filter_table.h"
#include "imgfilter.h"

// A filter's exported function as a pointer of no particular type: this
// library's, or the one of the same name in another build of it.
using exported_function = void (*)();

inline exported_function linked_function(filter_id id) {
    switch (id) {
#define IMGFILTER_LINKED(name, kind) \
    case filter_id::name:            \
        return reinterpret_cast<exported_function>(imgfilter_##name);
        IMGFILTER_FILTERS(IMGFILTER_LINKED)
#undef IMGFILTER_LINKED
    }
    return nullptr;
}

// The exported functions take the record's contents as their own arguments.
#define IMGFILTER_EXPORTED_ARGS_none(params)
#define IMGFILTER_EXPORTED_ARGS_real(params) , *static_cast<const float*>(params)
#define IMGFILTER_EXPORTED_ARGS_integer(params) , *static_cast<const int*>(params)
#define IMGFILTER_EXPORTED_ARGS_weights(params) \
    , static_cast<const kernel_params*>(params)->weights, static_cast<const kernel_params*>(params)->size

// Calls function, the filter's exported function, with the parameter record
// its worker reads.
inline int call_exported(filter_id id, exported_function function, const char* input_path, const char* output_path,
                         const void* params) {
    switch (id) {
#define IMGFILTER_CALL(name, kind)                                                   \
    case filter_id::name: {                                                          \
        const auto call = reinterpret_cast<decltype(&imgfilter_##name)>(function);   \
        return call(input_path, output_path IMGFILTER_EXPORTED_ARGS_##kind(params)); \
    }
        IMGFILTER_FILTERS(IMGFILTER_CALL)
#undef IMGFILTER_CALL
    }
    return 0;
}

#undef IMGFILTER_EXPORTED_ARGS_none
#undef IMGFILTER_EXPORTED_ARGS_real
#undef IMGFILTER_EXPORTED_ARGS_integer
#undef IMGFILTER_EXPORTED_ARGS_weights

inline int call_exported(filter_id id, const char* input_path, const char* output_path, const void* params) {
    return call_exported(id, linked_function(id), input_path, output_path, params);
}

#endif
