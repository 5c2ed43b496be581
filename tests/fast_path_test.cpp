// Every fast path, in every compiled variant this processor can run, against
// the plain reference loop: the same result, message and bytes on random
// images of awkward sizes, at every boundary of every parameter.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "imgfilter.h"
#include "test_support.h"

namespace {

const float k_inf = std::numeric_limits<float>::infinity();
const float k_nan = std::numeric_limits<float>::quiet_NaN();

std::vector<code_path> fast_paths() {
    std::vector<code_path> paths;
    for (code_path path : {code_path::portable, code_path::avx2, code_path::avx512}) {
        if (code_path_available(path)) paths.push_back(path);
    }
    return paths;
}

const char* name_of(code_path path) {
    switch (path) {
        case code_path::portable: return "portable";
        case code_path::avx2: return "avx2";
        case code_path::avx512: return "avx512";
        default: return "reference";
    }
}

// Pictures that exercise what the fast paths do differently: vector tails
// (odd widths), the edge bands of sliding windows (sizes below the window),
// flat areas (ties between levels, zero differences), hard edges, and the
// small differences of a photograph, on both sides of the cut-offs a fast
// path may treat specially.
test_image random_image(std::mt19937& rng, int width, int height) {
    test_image image(width, height);
    const int style = static_cast<int>(rng() % 5);
    std::uniform_int_distribution<int> byte(0, 255);
    const rgba base{uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgba p;
            switch (style) {
                case 0:  // noise
                    p = {uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng))};
                    break;
                case 1:  // blocks of flat colour
                    p = ((x / 5 + y / 3) % 3 == 0) ? base : rgba{uint8_t(base.g), uint8_t(base.b), uint8_t(x * 7), 255};
                    break;
                case 2:  // gradient with a little noise
                    p = {uint8_t(x * 3 + byte(rng) % 4), uint8_t(y * 5), uint8_t((x + y) * 2), uint8_t(x ^ y)};
                    break;
                case 3:  // one colour with noise of up to about 40 levels
                    p = {uint8_t(base.r / 2 + byte(rng) % 41), uint8_t(base.g / 2 + byte(rng) % 41),
                         uint8_t(base.b / 2 + byte(rng) % 41), 255};
                    break;
                default:  // extremes only
                    p = {uint8_t(rng() % 2 * 255), uint8_t(rng() % 2 * 255), uint8_t(rng() % 2 * 255), uint8_t(byte(rng))};
                    break;
            }
            image.set(x, y, p);
        }
    }
    return image;
}

struct size2 {
    int width, height;
};

// A few fixed awkward sizes, then random ones up to max_side.
std::vector<size2> sizes(std::mt19937& rng, int max_side, int random_count) {
    std::vector<size2> list = {{1, 1}, {1, 7}, {9, 1}, {2, 2}, {3, 5}, {17, 3}, {31, 33}, {65, 2}, {32, 16}, {33, 17}, {64, 5}};
    std::uniform_int_distribution<int> side(1, max_side);
    for (int i = 0; i < random_count; ++i) list.push_back({side(rng), side(rng)});
    return list;
}

typedef int (*worker_with)(filter_image*, const void*, code_path);

int run_on(worker_with worker, code_path path, const test_image& in, const void* params, test_image* out,
           std::string* message) {
    filter_image image{in.width, in.height, static_cast<unsigned char*>(std::malloc(in.bytes.size() + 1))};
    if (!in.bytes.empty()) std::memcpy(image.pixels, in.bytes.data(), in.bytes.size());
    set_err("stale");
    const int result = worker(&image, params, path);
    *message = imgfilter_last_error();
    out->width = image.width;
    out->height = image.height;
    out->bytes.assign(image.pixels, image.pixels + in.bytes.size());
    std::free(image.pixels);
    return result;
}

// Runs the reference and every fast path on the image and requires the same
// outcome to the byte.
void expect_same(worker_with worker, const test_image& in, const void* params, const std::string& what) {
    test_image expected;
    std::string expected_message;
    const int expected_result = run_on(worker, code_path::reference, in, params, &expected, &expected_message);
    for (code_path path : fast_paths()) {
        test_image actual;
        std::string message;
        const int result = run_on(worker, path, in, params, &actual, &message);
        const std::string where = what + " on " + std::to_string(in.width) + "x" + std::to_string(in.height) +
                                  " via " + name_of(path);
        ASSERT_EQ(result, expected_result) << where;
        ASSERT_EQ(message, expected_message) << where;
        if (actual.bytes != expected.bytes) {
            size_t i = 0;
            while (actual.bytes[i] == expected.bytes[i]) ++i;
            FAIL() << where << ": first difference at pixel " << i / 4 % in.width << "," << i / 4 / in.width
                   << " byte " << i % 4 << ": " << int(actual.bytes[i]) << " instead of " << int(expected.bytes[i]);
        }
    }
}

template <typename T>
void check_params(worker_with worker, const char* filter, const std::vector<T>& values, int max_side, int count,
                  unsigned seed) {
    std::mt19937 rng(seed);
    for (const size2& s : sizes(rng, max_side, count)) {
        const test_image in = random_image(rng, s.width, s.height);
        for (const T& value : values) {
            expect_same(worker, in, &value, std::string(filter) + " " + std::to_string(value));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

}  // namespace

TEST(FastPath, ReportsWhatItCanRun) {
    EXPECT_TRUE(code_path_available(code_path::reference));
    EXPECT_TRUE(code_path_available(code_path::portable));
    EXPECT_TRUE(code_path_available(fastest_code_path()));
    std::string list;
    for (code_path path : fast_paths()) list += std::string(" ") + name_of(path);
    RecordProperty("fast_paths", list);
}

TEST(FastPath, Vignette) {
    check_params<float>(thunk_vignette_with, "vignette",
                        {0.0f, -0.0f, -0.5f, 1e-7f, 0.25f, 0.5f, 1.0f, 1.0000001f, 1.5f, 50.0f, 100.0f, 100.5f, k_inf, k_nan},
                        300, 40, 1);
    // Rows wider than the fast path's chunks of columns, mirrored or not.
    check_params<float>(thunk_vignette_with, "vignette", {0.5f, 1.0f}, 1200, 4, 12);
}

TEST(FastPath, Blur) {
    check_params<float>(thunk_blur_with, "blur",
                        {0.0f, -0.0f, -3.0f, k_nan, 1e-30f, 0.1f, 0.25f, 0.5f, 0.50000006f, 1.0f, 1.5f, 3.3f, 10.0f},
                        200, 30, 2);
    check_params<float>(thunk_blur_with, "blur", {50.0f, 77.0f, k_inf}, 260, 6, 3);
}

TEST(FastPath, Sharpen) {
    check_params<float>(thunk_sharpen_with, "sharpen", {0.0f, -0.0f, -0.1f, 0.3f, 1.0f, 4.0f, 5.0f, 5.0000005f, k_nan},
                        300, 40, 4);
}

TEST(FastPath, Kernel) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> weight(-2.0f, 2.0f);
    std::vector<std::vector<float>> grids;
    for (int size : {3, 5}) {
        std::vector<float> identity(size * size, 0.0f);
        identity[size * size / 2] = 1.0f;
        grids.push_back(identity);
        for (int i = 0; i < 3; ++i) {
            std::vector<float> grid(size * size);
            for (float& w : grid) w = weight(rng);
            grids.push_back(grid);
        }
        std::vector<float> extreme(size * size, 1e10f);
        extreme[1] = -k_inf;
        grids.push_back(extreme);
        std::vector<float> not_a_number(size * size, 0.5f);
        not_a_number[size] = k_nan;
        grids.push_back(not_a_number);
    }
    for (const size2& s : sizes(rng, 200, 24)) {
        const test_image in = random_image(rng, s.width, s.height);
        for (const std::vector<float>& grid : grids) {
            const kernel_params params{grid.data(), grid.size() == 9 ? 3 : 5};
            expect_same(thunk_kernel_with, in, &params, "kernel " + std::to_string(params.size));
            if (HasFatalFailure()) return;
        }
        for (int size : {4, -3, 0}) {
            const kernel_params params{grids[0].data(), size};
            expect_same(thunk_kernel_with, in, &params, "kernel size " + std::to_string(size));
        }
        const kernel_params null_weights{nullptr, 3};
        expect_same(thunk_kernel_with, in, &null_weights, "kernel NULL");
    }
}

TEST(FastPath, Emboss) { check_params<int>(thunk_emboss_with, "emboss", {0}, 300, 50, 6); }

TEST(FastPath, EdgeDetect) { check_params<int>(thunk_edge_detect_with, "edge_detect", {0}, 300, 50, 7); }

TEST(FastPath, Denoise) {
    check_params<int>(thunk_denoise_with, "denoise", {-5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 160, 24, 8);
}

TEST(FastPath, Pixelate) {
    check_params<int>(thunk_pixelate_with, "pixelate", {-3, 0, 1, 2, 3, 7, 16, 1000}, 300, 30, 9);
}

TEST(FastPath, OilPaint) {
    check_params<int>(thunk_oil_paint_with, "oil_paint", {-3, 0, 1, 2, 3, 5, 7, 8, 12}, 120, 20, 10);
    check_params<int>(thunk_oil_paint_with, "oil_paint", {20, 29, 30, 31, 1000}, 80, 6, 11);
}
