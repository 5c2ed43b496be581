// The largest images each encoder takes: the bounds within which its int
// arithmetic cannot overflow, whatever the pixels (derived in
// encoder_bounds.cpp). The encoders check them themselves, and the pipeline
// before it creates any file.
#ifndef IMGFILTER_ENCODE_ENCODER_BOUNDS_H
#define IMGFILTER_ENCODE_ENCODER_BOUNDS_H

#include "common/image_format.h"

// False for an empty image too: no format has a valid empty one.
bool encodable(image_format format, long long width, long long height);

#endif
