// A host that links the system's libstb itself, changes its settings and then
// calls the library: the library's compiled-in decoder and encoder keep their
// own settings, so nothing of the host's reaches its outputs.
// Usage: imgfilter_host_with_system_stb SCRATCH_DIRECTORY; exit status 0 when
// the output is as the input was, unflipped.
#include <cstdio>
#include <string>

#include "imgfilter.h"
#include "stb_image.h"
#include "stb_image_write.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string in = std::string(argv[1]) + "/host_in.png";
    const std::string out = std::string(argv[1]) + "/host_out.png";
    // One column: red on top, blue below.
    const unsigned char pixels[8] = {255, 0, 0, 255, 0, 0, 255, 255};
    if (!stbi_write_png(in.c_str(), 1, 2, 4, pixels, 4)) return 2;

    stbi_set_flip_vertically_on_load(1);
    stbi_flip_vertically_on_write(1);
    const int result = imgfilter_pixelate(in.c_str(), out.c_str(), 1);
    if (result != 1) {
        std::fprintf(stderr, "pixelate failed: %s\n", imgfilter_last_error());
        return 1;
    }

    stbi_set_flip_vertically_on_load(0);
    int width = 0, height = 0, channels = 0;
    unsigned char* output = stbi_load(out.c_str(), &width, &height, &channels, 4);
    const bool unflipped = output && width == 1 && height == 2 && output[0] == 255 && output[2] == 0 && output[4] == 0 &&
                           output[6] == 255;
    stbi_image_free(output);
    std::remove(in.c_str());
    std::remove(out.c_str());
    if (!unflipped) std::fprintf(stderr, "the host's stb settings reached the library's output\n");
    return unflipped ? 0 : 1;
}
