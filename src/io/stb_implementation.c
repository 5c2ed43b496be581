/* Compiles the system's stb_image into the library with its default settings,
 * for builds that must not depend on libstb.so (sanitizer, fuzzing and cross
 * builds). The library is built with hidden visibility, so none of these
 * functions is exported. The encoder has a unit of its own, so that fuzzing
 * builds can leave it out of their coverage feedback. */
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"
