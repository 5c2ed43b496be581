// Windows only: the library's paths are narrow strings in the ANSI code page,
// as the C runtime's fopen takes them; the wide system calls need UTF-16.
#ifndef IMGFILTER_FS_WIDE_PATH_H
#define IMGFILTER_FS_WIDE_PATH_H

#include <wchar.h>

#include "common/heap.h"

// The path in UTF-16, NUL-terminated; NULL when it cannot be converted.
heap_ptr<wchar_t> wide_path(const char* path);

#endif
