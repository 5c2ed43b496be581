// A portable smoke suite of the exported functions, without a test framework,
// so it builds for every host the library builds for (Windows included, where
// it runs under wine): every filter on small images with exactly known
// results, the messages of failed calls, and writing over an existing output.
//
//   imgfilter_smoke SCRATCH_DIR [PHOTO]
//
// Also leaves each filter's result on a generated image (and on PHOTO when
// given, as PNG and as JPEG) in SCRATCH_DIR/results/, so that the results of two builds can be
// compared byte for byte. Prints one line per failed check; exit 0 when all pass.
#include <imgfilter.h>

#include "filter_list.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#  include <direct.h>
#  include <windows.h>
#  define make_directory(path) _mkdir(path)
#else
#  include <dirent.h>
#  include <sys/stat.h>
#  define make_directory(path) mkdir(path, 0777)
#endif

namespace {

int g_failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        ++g_failures;
        std::printf("FAIL: %s\n", what.c_str());
    }
}

struct rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    std::string text() const {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "(%d, %d, %d, %d)", r, g, b, a);
        return buffer;
    }
};

struct image {
    int width = 0, height = 0;
    std::vector<rgba> pixels;  // rows top to bottom
    rgba& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
std::uint32_t get32(const std::vector<std::uint8_t>& in, std::size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

// A 32-bit BMP with a V4 header and an alpha mask: the layout the library
// itself writes for .bmp, which keeps alpha through a round trip.
bool write_bmp(const std::string& path, const image& picture) {
    std::vector<std::uint8_t> out;
    const std::uint32_t data_size = static_cast<std::uint32_t>(picture.width * picture.height * 4);
    out.push_back('B');
    out.push_back('M');
    put32(out, 14 + 108 + data_size);
    put32(out, 0);
    put32(out, 14 + 108);
    put32(out, 108);
    put32(out, static_cast<std::uint32_t>(picture.width));
    put32(out, static_cast<std::uint32_t>(picture.height));
    put16(out, 1);
    put16(out, 32);
    put32(out, 3);  // bit fields
    for (int i = 0; i < 5; ++i) put32(out, 0);
    for (std::uint32_t mask : {0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u}) put32(out, mask);
    for (int i = 0; i < 13; ++i) put32(out, 0);  // colour space, end points, gamma
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const rgba& p = picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
            for (std::uint8_t byte : {p.b, p.g, p.r, p.a}) out.push_back(byte);
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    std::uint8_t buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

// Reads a BMP that the library wrote (32-bit, bottom-up); width 0 if it is not one.
image read_bmp(const std::string& path) {
    image picture;
    const std::vector<std::uint8_t> bytes = read_file(path);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return picture;
    const int width = static_cast<int>(get32(bytes, 18)), height = static_cast<int>(get32(bytes, 22));
    const std::size_t offset = get32(bytes, 10);
    if (width <= 0 || height <= 0 || offset + static_cast<std::size_t>(width) * height * 4 > bytes.size()) return picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &bytes[offset + (static_cast<std::size_t>(height - 1 - y) * width + x) * 4];
            picture.at(x, y) = {p[2], p[1], p[0], p[3]};
        }
    }
    return picture;
}

// The names in a directory, "." and ".." left out.
std::vector<std::string> directory_entries(const std::string& dir) {
    std::vector<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
#else
    if (DIR* listing = opendir(dir.c_str())) {
        while (dirent* entry = readdir(listing))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(listing);
    }
#endif
    return names;
}

image filled(int width, int height, rgba colour) {
    image picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(static_cast<std::size_t>(width) * height, colour);
    return picture;
}

image gradient() {
    image picture = filled(9, 7, {0, 0, 0, 255});
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            picture.at(x, y) = {static_cast<std::uint8_t>(x * 28), static_cast<std::uint8_t>(y * 40),
                                static_cast<std::uint8_t>((x * 37 + y * 53) % 256), static_cast<std::uint8_t>(255 - x * 9)};
    return picture;
}

struct filter_case {
    const char* name;
    int (*run)(const char* in, const char* out);
};

const float k_identity3[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
const float k_identity5[25] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const float k_ridge[9] = {-1, -1, 0, -1, 2.5f, 1, 0, 1, 0.75f};

// Every filter in the library's list, with parameters that change the gradient
// image, for the byte-for-byte comparison between builds. A filter added to the
// list without a gradient_<name> here does not compile.
const float gradient_vignette = 0.7f, gradient_blur = 1.7f, gradient_sharpen = 2.25f;
const int gradient_denoise = 6, gradient_pixelate = 4, gradient_oil_paint = 3;
#define SMOKE_ARGS_none(name)
#define SMOKE_ARGS_real(name) , gradient_##name
#define SMOKE_ARGS_integer(name) , gradient_##name
#define SMOKE_ARGS_weights(name) , k_ridge, 3
#define SMOKE_GRADIENT_CASE(name, kind) \
    {#name, [](const char* i, const char* o) { return imgfilter_##name(i, o SMOKE_ARGS_##kind(name)); }},
const filter_case k_all_filters[] = {IMGFILTER_FILTERS(SMOKE_GRADIENT_CASE)};

// Runs a filter from one generated BMP to another and returns the result.
image run_on(const std::string& dir, const image& input, const char* label,
             int (*run)(const char* in, const char* out)) {
    const std::string in = dir + "/in.bmp", out = dir + "/out.bmp";
    std::remove(out.c_str());
    if (!write_bmp(in, input)) {
        check(false, std::string(label) + ": cannot write the input");
        return {};
    }
    const int ok = run(in.c_str(), out.c_str());
    check(ok == 1, std::string(label) + ": failed: " + imgfilter_last_error());
    check(std::strcmp(imgfilter_last_error(), "") == 0, std::string(label) + ": message not empty after success");
    return read_bmp(out);
}

void expect_pixel(const image& picture, int x, int y, rgba expected, const std::string& label) {
    if (picture.width <= x || picture.height <= y) {
        check(false, label + ": no result image");
        return;
    }
    const rgba got = picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
    check(got == expected, label + ": pixel " + std::to_string(x) + "," + std::to_string(y) + " is " + got.text() +
                               ", expected " + expected.text());
}

void expect_everywhere(const image& picture, rgba expected, const std::string& label) {
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) expect_pixel(picture, x, y, expected, label);
    check(picture.width > 0, label + ": no result image");
}

void exact_results(const std::string& dir) {
    // The vignette's telling 3x3 case: corners scaled by 1 - s, edge middles by
    // 1 - s/2, the centre untouched; 50 is a percentage, the same as 0.5.
    const image bronze = filled(3, 3, {200, 100, 50, 128});
    const filter_case half_strengths[] = {
        {"vignette 0.5", [](const char* i, const char* o) { return imgfilter_vignette(i, o, 0.5f); }},
        {"vignette 50", [](const char* i, const char* o) { return imgfilter_vignette(i, o, 50.0f); }},
    };
    for (const filter_case& f : half_strengths) {
        const image v = run_on(dir, bronze, f.name, f.run);
        expect_pixel(v, 0, 0, {100, 50, 25, 128}, std::string(f.name) + " corner");
        expect_pixel(v, 2, 2, {100, 50, 25, 128}, std::string(f.name) + " corner");
        expect_pixel(v, 1, 0, {150, 75, 38, 128}, std::string(f.name) + " edge");
        expect_pixel(v, 1, 1, {200, 100, 50, 128}, std::string(f.name) + " centre");
    }

    // A flat picture stays flat through every smoothing filter, and the
    // detectors see nothing in it.
    const rgba grey{90, 140, 200, 77};
    const image flat = filled(6, 5, grey);
    expect_everywhere(run_on(dir, flat, "blur", [](const char* i, const char* o) { return imgfilter_blur(i, o, 2.0f); }),
                      grey, "blur of a flat image");
    expect_everywhere(
        run_on(dir, flat, "sharpen", [](const char* i, const char* o) { return imgfilter_sharpen(i, o, 5.0f); }), grey,
        "sharpen of a flat image");
    expect_everywhere(
        run_on(dir, flat, "denoise", [](const char* i, const char* o) { return imgfilter_denoise(i, o, 10); }), grey,
        "denoise of a flat image");
    expect_everywhere(
        run_on(dir, flat, "oil_paint", [](const char* i, const char* o) { return imgfilter_oil_paint(i, o, 2); }),
        grey, "oil_paint of a flat image");
    expect_everywhere(run_on(dir, flat, "emboss", [](const char* i, const char* o) { return imgfilter_emboss(i, o); }),
                      {128, 128, 128, 77}, "emboss of a flat image");
    expect_everywhere(
        run_on(dir, flat, "edge_detect", [](const char* i, const char* o) { return imgfilter_edge_detect(i, o); }),
        {0, 0, 0, 77}, "edge_detect of a flat image");

    // The identity grids give the picture back; pixelate averages each block,
    // alpha included, halves rounded up.
    const image ramp = gradient();
    const image same3 =
        run_on(dir, ramp, "kernel 3", [](const char* i, const char* o) { return imgfilter_kernel(i, o, k_identity3, 3); });
    const image same5 =
        run_on(dir, ramp, "kernel 5", [](const char* i, const char* o) { return imgfilter_kernel(i, o, k_identity5, 5); });
    check(same3.pixels == ramp.pixels, "kernel: a 3x3 identity changed the image");
    check(same5.pixels == ramp.pixels, "kernel: a 5x5 identity changed the image");

    image quad = filled(2, 2, {0, 0, 0, 0});
    quad.at(1, 0) = {10, 20, 30, 40};
    quad.at(0, 1) = {20, 40, 60, 80};
    quad.at(1, 1) = {31, 61, 91, 121};
    expect_everywhere(
        run_on(dir, quad, "pixelate", [](const char* i, const char* o) { return imgfilter_pixelate(i, o, 2); }),
        {15, 30, 45, 60}, "pixelate of a 2x2 block");
}

// A call that must fail, with its message compared right after it.
void expect_failure(int result, const std::string& expected) {
    check(result == 0, "succeeded, expected: " + expected);
    check(expected == imgfilter_last_error(), std::string("message '") + imgfilter_last_error() + "', expected '" +
                                                  expected + "'");
}

void messages(const std::string& dir) {
    const std::string missing = dir + "/missing.png", in = dir + "/in.bmp", out = dir + "/refused.bmp";
    const std::string nowhere = dir + "/no/such/dir/x.png";
    write_bmp(in, filled(4, 4, {1, 2, 3, 255}));
    std::remove(out.c_str());
    expect_failure(imgfilter_blur(missing.c_str(), out.c_str(), 1.0f), "blur: cannot read input file '" + missing + "'");
    expect_failure(imgfilter_blur(in.c_str(), out.c_str(), 0.0f), "blur: radius must be positive, got 0");
    expect_failure(imgfilter_vignette(in.c_str(), out.c_str(), -0.5f), "vignette: strength must be non-negative, got -0.5");
    expect_failure(imgfilter_sharpen(in.c_str(), out.c_str(), 5.5f), "sharpen: amount 5.5 out of range 0.0..5.0");
    expect_failure(imgfilter_kernel(in.c_str(), out.c_str(), nullptr, 3), "kernel: weights pointer is NULL");
    expect_failure(imgfilter_kernel(in.c_str(), out.c_str(), k_identity3, 4), "kernel: size must be 3 or 5, got 4");
    expect_failure(imgfilter_denoise(in.c_str(), out.c_str(), 11), "denoise: strength 11 out of range 1..10");
    expect_failure(imgfilter_pixelate(in.c_str(), out.c_str(), 0), "pixelate: block_size must be >= 1, got 0");
    expect_failure(imgfilter_oil_paint(in.c_str(), out.c_str(), -3), "oil_paint: radius must be >= 1, got -3");
    expect_failure(imgfilter_emboss(nullptr, out.c_str()), "emboss: input and output paths must not be NULL");
    expect_failure(imgfilter_edge_detect(in.c_str(), nowhere.c_str()),
                   "edge_detect: cannot write output file '" + nowhere + "'");
    check(read_file(out).empty(), "a refused call created its output file");
    check(imgfilter_init() == 1 && std::string(imgfilter_last_error()).empty(), "init did not empty the message");
}

void replacing_outputs(const std::string& dir) {
    // The result is written beside the output and moved over it: on Windows
    // that move must replace the existing file.
    const std::string in = dir + "/replace-in.bmp", out = dir + "/replace-out.bmp";
    write_bmp(in, filled(3, 2, {10, 20, 30, 255}));
    write_bmp(out, filled(5, 5, {0, 0, 0, 255}));
    check(imgfilter_pixelate(in.c_str(), out.c_str(), 1) == 1,
          std::string("writing over an existing output failed: ") + imgfilter_last_error());
    const image replaced = read_bmp(out);
    check(replaced.width == 3 && replaced.height == 2, "the existing output was not replaced");
    check(imgfilter_emboss(out.c_str(), out.c_str()) == 1,
          std::string("input and output the same file failed: ") + imgfilter_last_error());
    expect_everywhere(read_bmp(out), {128, 128, 128, 255}, "emboss in place");
    const std::vector<std::uint8_t> before = read_file(out);
    check(imgfilter_blur(in.c_str(), out.c_str(), -1.0f) == 0, "a refused call succeeded");
    check(read_file(out) == before, "a refused call changed the existing output");
}

// Writes that must fail leave the existing output exactly as it was and
// nothing beside it: an image no format can hold (a BMP of width 0 decodes to
// one), a directory as the output path, and on Windows a read-only file,
// which the move over it would otherwise defeat.
void failed_writes(const std::string& dir) {
    const std::string place = dir + "/failing";
    make_directory(place.c_str());
    const std::string in = place + "/in.bmp", empty = place + "/empty.bmp", out = place + "/out.bmp";
    write_bmp(in, filled(3, 2, {10, 20, 30, 255}));
    write_bmp(out, filled(2, 2, {1, 1, 1, 255}));
    std::vector<std::uint8_t> bytes = read_file(in);
    for (int i = 18; i < 22; ++i) bytes[static_cast<std::size_t>(i)] = 0;  // biWidth
    std::FILE* file = std::fopen(empty.c_str(), "wb");
    if (file) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const std::vector<std::uint8_t> before = read_file(out);
    expect_failure(imgfilter_emboss(empty.c_str(), out.c_str()), "emboss: cannot write output file '" + out + "'");
    check(read_file(out) == before, "a failed write changed the existing output");
    expect_failure(imgfilter_emboss(in.c_str(), place.c_str()), "emboss: cannot write output file '" + place + "'");
#ifdef _WIN32
    check(SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_READONLY) != 0, "cannot make the output read-only");
    expect_failure(imgfilter_emboss(in.c_str(), out.c_str()), "emboss: cannot write output file '" + out + "'");
    check(read_file(out) == before, "a read-only output was changed");
    check(GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_READONLY, "a read-only output lost its attribute");
    SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A replaced file keeps its attributes.
    check(SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_HIDDEN) != 0, "cannot hide the output");
    check(imgfilter_emboss(in.c_str(), out.c_str()) == 1,
          std::string("writing over a hidden output failed: ") + imgfilter_last_error());
    check(GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_HIDDEN, "the replaced output lost its hidden attribute");
    check(read_bmp(out).width == 3, "the hidden output was not replaced");
    SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
    check(directory_entries(place).size() == 3, "a failed write left a file beside the output");
}

void results_for_comparison(const std::string& dir, const char* photo) {
    const std::string results = dir + "/results";
    make_directory(results.c_str());
    const std::string generated = results + "/gradient.bmp";
    write_bmp(generated, gradient());
    for (const filter_case& f : k_all_filters) {
        const std::string out = results + "/gradient-" + f.name + ".bmp";
        check(f.run(generated.c_str(), out.c_str()) == 1, std::string(f.name) + " on the gradient: " + imgfilter_last_error());
        if (photo) {
            // Through both compressing encoders, whose bytes depend on the
            // most arithmetic.
            for (const char* extension : {".png", ".jpg"}) {
                const std::string photo_out = results + "/photo-" + f.name + extension;
                check(f.run(photo, photo_out.c_str()) == 1,
                      std::string(f.name) + " on the photo: " + imgfilter_last_error());
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: imgfilter_smoke SCRATCH_DIR [PHOTO]\n");
        return 2;
    }
    const std::string dir = argv[1];
    make_directory(dir.c_str());
    exact_results(dir);
    messages(dir);
    replacing_outputs(dir);
    failed_writes(dir);
    results_for_comparison(dir, argc == 3 ? argv[2] : nullptr);
    std::printf("imgfilter_smoke: %s\n", g_failures ? "FAILED" : "all checks passed");
    return g_failures ? 1 : 0;
}
