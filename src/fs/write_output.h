// Writing a file to whatever stands at the output path, the one way every
// output is written, by the library and by the tool alike: a regular file is
// replaced atomically, keeping its permissions and owner; a symlink is written
// through (a dangling one creates its target); a device, FIFO or multiply
// linked file, and a writable file in a directory that takes no new file, are
// written in place from content finished in memory first.
#ifndef IMGFILTER_FS_WRITE_OUTPUT_H
#define IMGFILTER_FS_WRITE_OUTPUT_H

#include "common/byte_sink.h"

// What goes into the file: produce writes all of it into the sink, and is
// called once, with a sink to the new file or to memory. False when it could
// not (the sink's own failure shows in sink->failed).
struct file_content {
    bool (*produce)(const void* source, byte_sink* sink);
    const void* source;
};

// False when nothing may be written there or writing failed; a file that
// stood at the path is then as it was, unless it is one written in place and
// the device itself failed midway. errno tells the system's reason, where
// there is one.
bool write_output(const char* output_path, const file_content& content);

#endif
