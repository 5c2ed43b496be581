/* Compiles the system's stb_image and stb_image_write into the library with
 * their default settings, for builds that must not depend on libstb.so (sanitizer,
 * fuzzing and cross builds). The library is built with hidden visibility, so
 * none of these functions is exported. */
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
