// The private entry points of the Python package: a filter on pixels in
// memory, through the very worker the library's exported function runs (the
// filter table's), so an array gives the bytes a file of the same pixels
// gives, without encoding, decoding or touching the disk. Nothing here is
// part of the library's C interface; the package loads this module with
// ctypes, which lets go of the interpreter lock around each call.
#include "native_filter.h"

#include <cstdio>

#include "common/heap.h"
#include "common/huge_pages.h"
#include "common/last_error.h"
#include "decode/decode_limits.h"
#include "encode/output_format.h"
#include "filter_table.h"
#include "filters/filter.h"
#include "interleaved_pixels.h"
#include "pipeline.h"

namespace {

const filter_entry* entry_of(int filter) {
    return filter >= 0 && filter < k_filter_count ? &k_filters[filter] : nullptr;
}

bool size_refused(const filter_entry& filter, const char* what, long long width, long long height) {
    if (width < 1 || height < 1) {
        set_err("%s: %s has no pixels", filter.name, what);
        return true;
    }
    if (width > k_max_side || height > k_max_side || width * height > k_max_pixels) {
        set_err("%s: %s is too large (at most %lld pixels a side and %lld in all)", filter.name, what, k_max_side,
                k_max_pixels);
        return true;
    }
    return false;
}

int run(const filter_entry& filter, const imgfilter_native_pixels& in, const imgfilter_native_params& params,
        unsigned char* out, const char* output_path) {
    if (size_refused(filter, in.what, in.width, in.height)) return 0;
    image_owner owner;
    owner.image.width = static_cast<int32_t>(in.width);
    owner.image.height = static_cast<int32_t>(in.height);
    heap_ptr<unsigned char> rgba = alloc_pixels(owner.image);
    if (!rgba) {
        set_err("%s: memory allocation failed", filter.name);
        return 0;
    }
    owner.image.pixels = rgba.release();
    const strided_pixels layout{in.data, static_cast<std::ptrdiff_t>(in.row_stride),
                                static_cast<std::ptrdiff_t>(in.column_stride),
                                static_cast<std::ptrdiff_t>(in.channel_stride), in.channels};
    widen_to_rgba(layout, owner.image.width, owner.image.height, owner.image.pixels);

    filter_param param;
    param.real = params.real;
    param.integer = params.integer;
    param.grid = {params.weights, params.size};
    if (!filter.worker(&owner.image, param.record(filter.kind))) return 0;

    if (output_path) {
        // The format of the output path's extension, else PNG: the lossless
        // one that holds what the image has.
        if (!write_output_file(output_path, choose_output_format(output_path, image_format::png), owner.image)) {
            set_err("%s: cannot write output file '%s'", filter.name, output_path);
            return 0;
        }
    } else {
        // The caller's new array is as fresh as our own blocks: the same
        // advice saves it most of its page faults (it touches no other memory).
        const std::size_t out_bytes = static_cast<std::size_t>(in.width) * static_cast<std::size_t>(in.height) *
                                      static_cast<std::size_t>(in.channels);
        if (out_bytes >= k_huge_page_block) advise_huge_pages(out, out_bytes);
        narrow_from_rgba(owner.image.pixels, owner.image.width, owner.image.height, in.channels, out);
    }
    clear_err();
    return 1;
}

void copy_message(char* error, std::size_t error_size) {
    if (!error || error_size == 0) return;
    std::snprintf(error, error_size, "%s", last_error_text());
}

}  // namespace

extern "C" {

IMGFILTER_NATIVE_API const char* imgfilter_native_filter_name(int filter) {
    const filter_entry* entry = entry_of(filter);
    return entry ? entry->name : nullptr;
}

IMGFILTER_NATIVE_API int imgfilter_native_check_size(int filter, const char* what, long long width,
                                                     long long height, char* error, std::size_t error_size) {
    const filter_entry* entry = entry_of(filter);
    if (!entry || !what) return 0;
    if (size_refused(*entry, what, width, height)) {
        copy_message(error, error_size);
        return 0;
    }
    return 1;
}

IMGFILTER_NATIVE_API int imgfilter_native_filter(int filter, const imgfilter_native_pixels* in,
                                                 const imgfilter_native_params* params, unsigned char* out,
                                                 const char* output_path, char* error, std::size_t error_size) {
    const filter_entry* entry = entry_of(filter);
    if (!entry || !in || !in->data || !in->what || !params || (in->channels != 3 && in->channels != 4) ||
        (!out && !output_path)) {
        std::snprintf(error, error_size, "imgfilter: invalid call of the private module");
        return 0;
    }
    if (run(*entry, *in, *params, out, output_path)) return 1;
    copy_message(error, error_size);
    return 0;
}

}  // extern "C"
