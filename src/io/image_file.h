// Reading the input file, recognising its format, choosing and writing the
// output file: the pipeline's contact with the file system.
#ifndef IMGFILTER_IMAGE_FILE_H
#define IMGFILTER_IMAGE_FILE_H

#include <cstddef>

#include "common/image.h"
#include "common/heap.h"

enum class image_format { unsupported, jpeg, png, bmp };

struct file_bytes {
    heap_ptr<unsigned char> data;
    int length = 0;
};

// Reads the whole file into one buffer of exactly its length. False, at once,
// for anything but a regular file (a FIFO, device, socket or directory), and
// for a file that cannot be opened, held in memory or read completely, that is
// empty or longer than 2,147,483,647 bytes.
bool read_input_file(const char* path, file_bytes* file);

// Recognises JPEG (FF D8), PNG (89 'P' 'N' 'G', 8 bytes at least) and BMP ('B' 'M')
// from the first bytes only; everything else about validity is the decoder's.
image_format detect_format(const unsigned char* bytes, int length);

// The format named by the extension after the last '.' of the path (jpg, jpeg,
// png, bmp in any case), else the input's.
image_format choose_output_format(const char* output_path, image_format input_format);

// The encoder's byte sink: receives the encoded file in pieces.
struct byte_sink {
    void (*write)(byte_sink* sink, const void* data, int size);
    bool failed;
};

// Encodes the image into the sink. False when the image cannot be encoded in
// that format (empty, too large for the format) or the encoder failed; the
// sink's own failure is reported through sink->failed.
bool encode_image(image_format format, const filter_image& image, byte_sink* sink);

// Encodes and writes the file so that a failure never leaves a partial file at
// output_path and never harms what was there (see io/output_writer.h): a
// regular file is replaced by a finished, flushed new one with its permissions;
// nothing is created for an image the format cannot hold.
bool write_output_file(const char* output_path, image_format format, const filter_image& image);

#endif
