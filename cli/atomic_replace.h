// Puts a file's new contents in place at once: readers see the old file or
// the new one, never a half-written one, as the library does for its own
// output. Used when the tool adds metadata to what the library wrote.
#ifndef IMGFILTER_CLI_ATOMIC_REPLACE_H
#define IMGFILTER_CLI_ATOMIC_REPLACE_H

#include <string>

// Writes data to a new file beside path and renames it onto path. The file
// gets the mode a newly created file gets (0666 less the umask). false with
// the system's reason in *error; nothing is left behind then.
bool replace_atomically(const std::string& path, const std::string& data, std::string* error);

#endif
