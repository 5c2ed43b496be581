// The two steps of the safe output write whose C runtime behaviour differs
// between hosts: creating a file that must not exist yet, and moving a file
// onto a path that may already name one.
#ifndef IMGFILTER_REPLACE_FILE_H
#define IMGFILTER_REPLACE_FILE_H

#include <cstdio>

// Opens path for binary writing only if no file of that name existed (an
// exclusive create). NULL on failure, with errno EEXIST when the name was taken.
std::FILE* create_new_file(const char* path);

// Moves the file from onto to, replacing a file already at to. On Windows
// rename() refuses an existing target, so MoveFileEx does the replacing there.
bool replace_file(const char* from, const char* to);

#endif
