#ifndef IMGFILTER_PIPELINE_H
#define IMGFILTER_PIPELINE_H

#include "common/image.h"
#include "common/image_format.h"

// Runs one filter call: read, recognise, decode, filter, choose the output
// format, encode, write. Both paths must be non-NULL. 1 after a successful
// write with the message emptied, 0 with the message set.
int process_image(const char* input_path, const char* output_path, const char* filter_name, filter_fn worker,
                  const void* params);

// The last step: encodes the image and writes the file so that a failure never
// leaves a partial file at the path and never harms what was there. Nothing is
// created for an image the format cannot hold.
bool write_output_file(const char* output_path, image_format format, const filter_image& image);

#endif
