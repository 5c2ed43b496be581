// Reading the input file whole, the pipeline's first step.
#ifndef IMGFILTER_FS_INPUT_FILE_H
#define IMGFILTER_FS_INPUT_FILE_H

#include "common/heap.h"

struct file_bytes {
    heap_ptr<unsigned char> data;
    int length = 0;
};

// Reads the whole file into one buffer of exactly its length. False, at once,
// for anything but a regular file (a FIFO, device, socket or directory), and
// for a file that cannot be opened, held in memory or read completely, that is
// empty or longer than 2,147,483,647 bytes.
bool read_input_file(const char* path, file_bytes* file);

#endif
