// How much the process holds on the C heap: the benchmark replaces malloc and
// its relatives with counting wrappers around the C library's own, so that
// every block the library, the decoder and the encoder take is seen.
#ifndef IMGFILTER_BENCH_HEAP_PEAK_H
#define IMGFILTER_BENCH_HEAP_PEAK_H

// Starts a new measurement from what is held now.
void heap_peak_reset();

// The most bytes held at once since the last reset, beyond what was held then.
long long heap_peak_bytes();

#endif
