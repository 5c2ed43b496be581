// The process-wide last-error message behind imgfilter_last_error().
#ifndef IMGFILTER_LAST_ERROR_H
#define IMGFILTER_LAST_ERROR_H

#if defined(__GNUC__)
#  define IMGFILTER_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#  define IMGFILTER_PRINTF(fmt_index, first_arg)
#endif

// Formats the message (at most 511 bytes are kept) and returns the buffer.
const char* set_err(const char* fmt, ...) IMGFILTER_PRINTF(1, 2);

// Empties the message: one NUL in the first byte.
void clear_err();

// The buffer itself; always NUL-terminated.
const char* last_error_text();

#endif
