// Whole-file and whole-stream reads and writes on descriptors, retried after
// interruptions, for the tool's own file handling around the library.
#ifndef IMGFILTER_CLI_FILE_IO_H
#define IMGFILTER_CLI_FILE_IO_H

#include <cstddef>
#include <string>

// Writes every byte; false with errno set otherwise.
bool write_all(int fd, const void* data, std::size_t size);

// Reads fd to its end into *data, refusing more than limit bytes (the reader
// stops there, errno EFBIG). false with errno set otherwise.
bool read_all(int fd, std::size_t limit, std::string* data);

// Reads a regular file whole (at most limit bytes). false with errno set.
bool read_file(const std::string& path, std::size_t limit, std::string* data);

// Reads at most the first limit bytes of a regular file. false with errno set.
bool read_file_start(const std::string& path, std::size_t limit, std::string* data);

#endif
