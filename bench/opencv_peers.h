// The closest single-threaded OpenCV operation for each benchmarked filter,
// timed on the same photograph in the same run, for a ratio per filter.
#ifndef IMGFILTER_BENCH_OPENCV_PEERS_H
#define IMGFILTER_BENCH_OPENCV_PEERS_H

// Registers "opencv/<filter>/<parameters>" benchmarks, named like the
// filter-only ones, on the width x height RGBA pixels.
void register_opencv_peers(const unsigned char* rgba, int width, int height);

#endif
