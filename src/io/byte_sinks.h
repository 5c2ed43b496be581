// Where the encoder's bytes go: straight to an open file in large blocks, or
// into memory when the file must receive the whole encoding or nothing.
#ifndef IMGFILTER_BYTE_SINKS_H
#define IMGFILTER_BYTE_SINKS_H

#include <cstddef>

#include "common/heap.h"
#include "io/image_file.h"

// Writes all of data to the descriptor, resuming after interruptions and
// short writes. False on the first error, with errno set by the system.
bool write_fully(int fd, const unsigned char* data, std::size_t size);

// Collects the bytes in one block of the C heap.
struct memory_sink : byte_sink {
    memory_sink();
    heap_ptr<unsigned char> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// Gathers the bytes into blocks of k_block_size and writes each block with one
// checked system call; the encoders hand over a few bytes at a time. The file
// is a temporary that is flushed to the disk once complete: on Linux, the
// disk's writing of each k_writeback_step written is started meanwhile, so that
// the flush finds little left to wait for.
struct descriptor_sink : byte_sink {
    static constexpr std::size_t k_block_size = 64 * 1024;
    static constexpr std::size_t k_writeback_step = 4 * 1024 * 1024;
    explicit descriptor_sink(int fd);
    // Writes out what is still gathered. True when the sink never failed.
    bool finish();

    int fd;
    heap_ptr<unsigned char> block;
    std::size_t used = 0;
    unsigned long long written = 0;           // bytes the file has taken
    unsigned long long writeback_started = 0;  // of those, whose writing was started
};

#endif
