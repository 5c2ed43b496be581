// Darkens the corners of a photograph with imgfilter and checks the result.
//   vignette_check PHOTO OUTDIR
// Writes OUTDIR/plain.bmp (strength 0: the photograph unchanged) and
// OUTDIR/vignette.bmp (strength 1: black corners), then reads both back: the
// corners must be black and the centre untouched. Exit 0 when all holds.
#include <imgfilter.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Throws with the library's message when a call fails.
void check(int ok) {
    if (!ok) throw std::runtime_error(imgfilter_last_error());
}

// The 32-bit BMP the library writes for BMP output: a 14-byte file header,
// a header whose first fields are its size, width and height, then rows of
// B, G, R, A from the bottom up.
struct bmp {
    std::vector<std::uint8_t> bytes;
    std::uint32_t field(std::size_t offset) const {
        return bytes.at(offset) | bytes.at(offset + 1) << 8 | bytes.at(offset + 2) << 16 |
               std::uint32_t(bytes.at(offset + 3)) << 24;
    }
    int width() const { return static_cast<int>(field(18)); }
    int height() const { return static_cast<int>(field(22)); }
    std::uint32_t bgra(int x, int y) const { return field(field(10) + (std::size_t(height() - 1 - y) * width() + x) * 4); }
};

bmp read_bmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bmp image{std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {})};
    if (image.bytes.size() < 54 || image.bytes[0] != 'B' || image.bytes[1] != 'M')
        throw std::runtime_error(path + " is not a BMP file");
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: vignette_check PHOTO OUTDIR\n";
        return 2;
    }
    const std::string photo = argv[1], plain_path = std::string(argv[2]) + "/plain.bmp",
                      vignette_path = std::string(argv[2]) + "/vignette.bmp";
    try {
        check(imgfilter_init());
        check(imgfilter_vignette(photo.c_str(), plain_path.c_str(), 0.0f));
        check(imgfilter_vignette(photo.c_str(), vignette_path.c_str(), 1.0f));
        const bmp plain = read_bmp(plain_path), dark = read_bmp(vignette_path);
        const int w = dark.width(), h = dark.height();
        const std::uint32_t opaque_black = 0xff000000u;
        bool good = w == plain.width() && h == plain.height() && w > 2 && h > 2;
        good = good && dark.bgra(0, 0) == opaque_black && dark.bgra(w - 1, 0) == opaque_black &&
               dark.bgra(0, h - 1) == opaque_black && dark.bgra(w - 1, h - 1) == opaque_black;
        good = good && dark.bgra(w / 2, h / 2) == plain.bgra(w / 2, h / 2);
        if (!good) throw std::runtime_error("the vignette did not come out as expected");

        // A failure reports through the shared message, naming filter and cause.
        if (imgfilter_vignette(photo.c_str(), vignette_path.c_str(), -1.0f) ||
            std::string(imgfilter_last_error()) != "vignette: strength must be non-negative, got -1")
            throw std::runtime_error("a negative strength was not refused as expected");
        imgfilter_cleanup();
        std::cout << "vignette_check: " << w << "x" << h << " ok\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "vignette_check: " << e.what() << "\n";
        return 1;
    }
}
