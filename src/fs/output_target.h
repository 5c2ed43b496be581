// What stands at an output path, and therefore how it may be written: a file
// that can be replaced whole, a name where a new file goes, or something that
// must be written in place because replacing it would change what it is.
#ifndef IMGFILTER_FS_OUTPUT_TARGET_H
#define IMGFILTER_FS_OUTPUT_TARGET_H

#include "common/heap.h"

enum class target_kind {
    // Nothing there (or a symlink whose target does not exist): a new file.
    missing,
    // A regular file with a single link, which a finished new file replaces.
    replaceable,
    // A device, FIFO or socket, or a file with several hard links: written
    // through, as opening it for writing would.
    in_place,
};

struct output_target {
    target_kind kind = target_kind::missing;
    // The path to write: the output path with every symlink at its end
    // followed, so that the link stays and its final target is written.
    heap_ptr<char> path;
    // Its directory ("." when the path has none) and its last component.
    heap_ptr<char> directory;
    const char* name = nullptr;  // points into path
    // What stood there when it was looked at (replaceable and in_place); the
    // file that is finally opened or replaced must still be this one.
    unsigned long long device = 0;
    unsigned long long inode = 0;
    unsigned mode = 0;  // permission bits, including set-id and sticky
    long long owner = -1;
    long long group = -1;
};

// Looks at the path without writing anything. False when it must not be
// written at all: empty, ending in '/', naming a directory, a write-protected
// file, a symlink loop, or a path the system cannot look at.
bool find_output_target(const char* output_path, output_target* target);

#endif
