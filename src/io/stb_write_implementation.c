/* Compiles the system's stb_image_write into the library with its default
 * settings, beside stb_image (stb_implementation.c) and for the same builds;
 * hidden like everything in the library. */
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
