#include "common/last_error.h"

#include <cstdarg>
#include <cstdio>

// One buffer for the whole process, zero at load, never allocated: a failure
// can be reported even when the heap is exhausted.
static char s_last_error[512];

const char* set_err(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(s_last_error, sizeof s_last_error, fmt, args);
    va_end(args);
    return s_last_error;
}

void clear_err() { s_last_error[0] = '\0'; }

const char* last_error_text() { return s_last_error; }
