// Where an encoder's bytes go, a few at a time: a file, or memory. The
// encoders see only this, so they know nothing of files.
#ifndef IMGFILTER_COMMON_BYTE_SINK_H
#define IMGFILTER_COMMON_BYTE_SINK_H

struct byte_sink {
    void (*write)(byte_sink* sink, const void* data, int size);
    bool failed;
};

#endif
