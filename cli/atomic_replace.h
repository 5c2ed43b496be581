// Puts a file's new contents in place at once, the way the library writes
// its own outputs: readers see the old file or the new one, never a
// half-written one; a symlink is written through, and a replaced file keeps
// its permission bits and, as far as we may, its owner and group. Used when
// the tool adds metadata to what the library wrote.
#ifndef IMGFILTER_CLI_ATOMIC_REPLACE_H
#define IMGFILTER_CLI_ATOMIC_REPLACE_H

#include <sys/stat.h>

#include <string>

// Where an output may be replaced this way: a path with nothing there, or a
// regular file with one link that we may write (also at the end of symlinks,
// whose final target is then the path). false for everything else (devices,
// FIFOs, files with several links, dangling or looping links, directories,
// write-protected files): those are the library's to write or refuse.
struct replace_target {
    std::string path;
    bool exists = false;
    struct stat old {};
};
bool find_replace_target(const char* output, replace_target* target);

// Writes data to a new hidden file beside the target and renames it onto the
// target. A new file gets mode 0666 less the umask. false with the system's
// reason in *error; nothing is left behind then.
bool replace_atomically(const replace_target& target, const std::string& data, std::string* error);

#endif
