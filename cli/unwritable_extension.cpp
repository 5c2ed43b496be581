#include "unwritable_extension.h"

#include <strings.h>

#include <cstring>

namespace {

const char* extension_start(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    return dot && dot[1] != '\0' ? dot + 1 : nullptr;
}

}  // namespace

const char* unwritable_extension(const char* path) {
    // Formats people ask image tools for; a file under such a name holding
    // JPEG, PNG or BMP bytes would mislead every program that opens it.
    static const char* const k_unwritable[] = {
        "webp", "tif", "tiff", "gif", "avif", "heic", "heif", "jxl", "jp2", "j2k", "jpx", "jxr", "ico",
        "cur",  "tga", "psd",  "qoi", "pnm",  "ppm",  "pgm",  "pbm", "pam", "hdr", "exr", "svg", "pdf",
        "dds",  "apng", "jfif", "pjpeg", "dng", "raw", "cr2", "nef", "arw", "xcf", "eps",
    };
    const char* extension = extension_start(path);
    if (!extension) return nullptr;
    for (const char* name : k_unwritable)
        if (strcasecmp(extension, name) == 0) return extension;
    return nullptr;
}
