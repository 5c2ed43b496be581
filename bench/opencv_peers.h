// The closest single-threaded OpenCV operation for each benchmarked filter,
// timed on the same photograph in the same run, for a ratio per filter.
#ifndef IMGFILTER_BENCH_OPENCV_PEERS_H
#define IMGFILTER_BENCH_OPENCV_PEERS_H

#include <string>

// Prepares the operations on the width x height RGBA pixels.
void prepare_opencv_peers(const unsigned char* rgba, int width, int height);

// Registers "opencv/<filter>", such as "opencv/blur/10", if that filter has a
// peer. Registered right after the filter's own benchmark, it runs right
// after it, so both see the shared machine in about the same state.
void register_opencv_peer(const std::string& filter);

#endif
