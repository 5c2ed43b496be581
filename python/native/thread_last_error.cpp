// The last-error message of the private module: one buffer per thread instead
// of the library's one per process. Python threads run filters at once here
// (ctypes lets go of the interpreter lock around each call), and a message
// must reach the call that failed, not be emptied or overwritten by another
// thread's call in between. Defining these three functions here keeps the
// library's own common/last_error.o out of this module's link, so every
// worker and the pipeline write to this buffer.
#include "common/last_error.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Never allocated, as the library's: a failure can be reported with the heap exhausted.
thread_local char t_last_error[512];

}  // namespace

const char* set_err(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(t_last_error, sizeof t_last_error, fmt, args);
    va_end(args);
    return t_last_error;
}

void clear_err() { t_last_error[0] = '\0'; }

const char* last_error_text() { return t_last_error; }
