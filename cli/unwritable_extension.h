// Names of image formats the library does not write. Which of its three
// formats an output gets is the library's own rule (encode/output_format.h);
// this list only keeps a name such as out.webp from silently receiving PNG
// bytes.
#ifndef IMGFILTER_CLI_UNWRITABLE_EXTENSION_H
#define IMGFILTER_CLI_UNWRITABLE_EXTENSION_H

// The extension of path's file name when it names a format that is not
// written here (for example "webp" or "TIFF"); NULL otherwise.
const char* unwritable_extension(const char* path);

#endif
