#include "output_formats.h"

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

file_format format_of_extension(const char* path) {
    const char* extension = extension_start(path);
    if (!extension) return file_format::unknown;
    if (strcasecmp(extension, "jpg") == 0 || strcasecmp(extension, "jpeg") == 0) return file_format::jpeg;
    if (strcasecmp(extension, "png") == 0) return file_format::png;
    if (strcasecmp(extension, "bmp") == 0) return file_format::bmp;
    return file_format::unknown;
}

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

file_format format_of_bytes(const std::string& bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xD8) return file_format::jpeg;
    if (bytes.size() >= 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return file_format::png;
    if (bytes.size() >= 2 && bytes.compare(0, 2, "BM") == 0) return file_format::bmp;
    return file_format::unknown;
}

const char* extension_of(file_format format) {
    switch (format) {
        case file_format::jpeg: return "jpg";
        case file_format::png: return "png";
        case file_format::bmp: return "bmp";
        case file_format::unknown: break;
    }
    return nullptr;
}
