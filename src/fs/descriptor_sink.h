// A byte sink that writes straight to an open file: the encoder's bytes are
// gathered into large blocks, each written with one checked system call.
#ifndef IMGFILTER_FS_DESCRIPTOR_SINK_H
#define IMGFILTER_FS_DESCRIPTOR_SINK_H

#include <cstddef>

#include "common/byte_sink.h"
#include "common/heap.h"

// Writes all of data to the descriptor, resuming after interruptions and
// short writes. False on the first error, with errno set by the system.
bool write_fully(int fd, const unsigned char* data, std::size_t size);

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
