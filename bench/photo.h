// A generated stand-in for a photograph: smooth shading, hard-edged shapes,
// fine texture and sensor-like noise, so that every filter meets the mix of
// flat areas, gradients and edges that real pictures give it.
#ifndef IMGFILTER_BENCH_PHOTO_H
#define IMGFILTER_BENCH_PHOTO_H

#include <vector>

std::vector<unsigned char> make_photo(int width, int height);

#endif
