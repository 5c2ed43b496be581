/*
 * imgfilter: apply one of nine image filters to an image file.
 *
 * Every filter function reads input_path (JPEG, PNG or BMP, recognised by its
 * first bytes), filters the pixels and writes output_path. The output format
 * follows the output path's extension (.jpg/.jpeg at quality 92, .png, .bmp,
 * any case) and otherwise matches the input's format.
 *
 * Every filter function returns 1 on success and 0 on failure. After a failure
 * imgfilter_last_error() holds a one-line message naming the filter and the
 * cause; after a success it is "". The message buffer is shared by the whole
 * process: a host that calls from several threads serialises each call together
 * with its reading of the message. Apart from that message the library keeps no
 * state, starts no threads and reads no configuration.
 */
#ifndef IMGFILTER_H
#define IMGFILTER_H

#define IMGFILTER_VERSION_MAJOR 1
#define IMGFILTER_VERSION_MINOR 0
#define IMGFILTER_VERSION_PATCH 0

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(IMGFILTER_BUILDING)
#    define IMGFILTER_API __declspec(dllexport)
#  else
#    define IMGFILTER_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define IMGFILTER_API __attribute__((visibility("default")))
#else
#  define IMGFILTER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Empties the last-error message; always returns 1. Calling it is optional. */
IMGFILTER_API int imgfilter_init(void);

/* Empties the last-error message. The library holds nothing to release and
 * stays usable afterwards. */
IMGFILTER_API void imgfilter_cleanup(void);

/* The last failure's message, "" after a success. Never NULL; the pointer is
 * the same for the life of the library, the text changes with the next call. */
IMGFILTER_API const char* imgfilter_last_error(void);

/* Darkens towards the corners. strength 0..1 is the darkening at the corners;
 * above 1 up to 100 it is a percentage; above 100 it acts as 1. Negative or NaN
 * fails. 0 leaves the image as it was. */
IMGFILTER_API int imgfilter_vignette(const char* input_path, const char* output_path, float strength);

/* Gaussian blur with standard deviation radius (pixels), > 0; the half-width of
 * the kernel is ceil(2 * radius), at most 100. */
IMGFILTER_API int imgfilter_blur(const char* input_path, const char* output_path, float radius);

/* Four-neighbour Laplacian sharpening, amount 0.0..5.0. */
IMGFILTER_API int imgfilter_sharpen(const char* input_path, const char* output_path, float amount);

/* Correlation with a caller-supplied size x size grid (size 3 or 5), row-major,
 * used as given (no normalisation). The array is only read during the call. */
IMGFILTER_API int imgfilter_kernel(const char* input_path, const char* output_path,
                                   const float* weights, int size);

/* Grey relief: mid-grey where flat, lighter where brightness rises to the lower right. */
IMGFILTER_API int imgfilter_emboss(const char* input_path, const char* output_path);

/* Grey Sobel gradient magnitude of the brightness, capped at 255. */
IMGFILTER_API int imgfilter_edge_detect(const char* input_path, const char* output_path);

/* Edge-preserving bilateral smoothing, strength 1..10. */
IMGFILTER_API int imgfilter_denoise(const char* input_path, const char* output_path, int strength);

/* Paints block_size x block_size blocks (>= 1) with their rounded mean colour,
 * alpha included. */
IMGFILTER_API int imgfilter_pixelate(const char* input_path, const char* output_path, int block_size);

/* Oil-paint look over a disc of the given radius (>= 1; above 30 acts as 30). */
IMGFILTER_API int imgfilter_oil_paint(const char* input_path, const char* output_path, int radius);

#ifdef __cplusplus
}
#endif

#endif /* IMGFILTER_H */
