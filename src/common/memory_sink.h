// A byte sink that collects everything in one block of the C heap: for a file
// that must receive the whole encoding or nothing, and for callers that want
// the encoded bytes themselves.
#ifndef IMGFILTER_COMMON_MEMORY_SINK_H
#define IMGFILTER_COMMON_MEMORY_SINK_H

#include <cstddef>

#include "common/byte_sink.h"
#include "common/heap.h"

struct memory_sink : byte_sink {
    memory_sink();
    heap_ptr<unsigned char> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

#endif
