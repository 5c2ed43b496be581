// What the tool knows about file formats by name and by first bytes: the
// three the library writes, and the common ones it cannot, so that a name
// such as out.webp is refused instead of silently receiving PNG bytes.
#ifndef IMGFILTER_CLI_OUTPUT_FORMATS_H
#define IMGFILTER_CLI_OUTPUT_FORMATS_H

#include <string>

enum class file_format { unknown, jpeg, png, bmp };

// The format the library picks for an output path by its extension (the text
// after the last dot, any case); unknown when the extension names none of the
// three, in which case the library keeps the input's format.
file_format format_of_extension(const char* path);

// The extension of path when it names a format that is not written here (for
// example "webp" or "TIFF"); NULL otherwise.
const char* unwritable_extension(const char* path);

// The format of an image file from its first bytes, as the library detects it.
file_format format_of_bytes(const std::string& bytes);

// "jpg", "png" or "bmp"; NULL for unknown.
const char* extension_of(file_format format);

#endif
