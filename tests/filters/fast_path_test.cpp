// Every fast path, in each compiled variant, against the plain reference
// loop: the same result, message and bytes on random images of awkward sizes,
// at every boundary of every parameter. A variant this build does not compile,
// or this processor cannot run, is reported as skipped under its name.
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "imgfilter.h"
#include "test_support.h"

namespace {

const float k_inf = std::numeric_limits<float>::infinity();
const float k_nan = std::numeric_limits<float>::quiet_NaN();

const code_path k_fast_paths[] = {code_path::portable, code_path::avx2, code_path::avx512};

const char* name_of(code_path path) {
    switch (path) {
        case code_path::portable: return "portable";
        case code_path::avx2: return "avx2";
        case code_path::avx512: return "avx512";
        default: return "reference";
    }
}

bool compiled_in_this_build(code_path path) { return path == code_path::portable || IMGFILTER_X86_VARIANTS; }

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

// Runs the reference and the variant on the image and requires the same
// outcome to the byte.
void expect_same(filter_id id, code_path path, const test_image& in, const void* params, const std::string& what) {
    const auto worker = filter_of(id).worker_with;
    test_image expected, actual;
    set_err("stale");
    const int expected_result = run_worker(worker, code_path::reference, in, params, &expected);
    const std::string expected_message = imgfilter_last_error();
    set_err("stale");
    const int result = run_worker(worker, path, in, params, &actual);
    const std::string message = imgfilter_last_error();
    const std::string where =
        what + " on " + std::to_string(in.width) + "x" + std::to_string(in.height) + " via " + name_of(path);
    ASSERT_EQ(result, expected_result) << where;
    ASSERT_EQ(message, expected_message) << where;
    if (actual.bytes != expected.bytes) {
        size_t i = 0;
        while (actual.bytes[i] == expected.bytes[i]) ++i;
        FAIL() << where << ": first difference at pixel " << i / 4 % in.width << "," << i / 4 / in.width << " byte "
               << i % 4 << ": " << int(actual.bytes[i]) << " instead of " << int(expected.bytes[i]);
    }
}

class FastPathTest : public ::testing::TestWithParam<code_path> {
protected:
    void SetUp() override {
        const char* name = name_of(GetParam());
        if (!compiled_in_this_build(GetParam())) GTEST_SKIP() << name << ": not compiled in this build";
        if (!code_path_available(GetParam())) GTEST_SKIP() << name << ": not supported by this processor";
    }

    template <typename T>
    void check_params(filter_id id, const std::vector<T>& values, int max_side, int count, unsigned seed) {
        std::mt19937 rng(seed);
        for (const size2& s : sizes(rng, max_side, count)) {
            const test_image in = random_image(rng, s.width, s.height);
            for (const T& value : values) {
                expect_same(id, GetParam(), in, &value, std::string(filter_of(id).name) + " " + std::to_string(value));
                if (HasFatalFailure()) return;
            }
        }
    }
};

}  // namespace

TEST(FastPath, ReportsWhatItCanRun) {
    EXPECT_TRUE(code_path_available(code_path::reference));
    EXPECT_TRUE(code_path_available(code_path::portable));
    EXPECT_TRUE(code_path_available(fastest_code_path()));
    for (const filter_entry& filter : k_filters)
        EXPECT_TRUE(code_path_available(code_path_of(filter))) << filter.name;
    std::string list;
    for (code_path path : k_fast_paths)
        if (code_path_available(path)) list += std::string(" ") + name_of(path);
    RecordProperty("fast_paths", list);
}

TEST_P(FastPathTest, Vignette) {
    check_params<float>(filter_id::vignette,
                        {0.0f, -0.0f, -0.5f, 1e-7f, 0.25f, 0.5f, 1.0f, 1.0000001f, 1.5f, 50.0f, 100.0f, 100.5f, k_inf, k_nan},
                        300, 40, 1);
    // Rows wider than the fast path's chunks of columns, mirrored or not.
    check_params<float>(filter_id::vignette, {0.5f, 1.0f}, 1200, 4, 12);
}

TEST_P(FastPathTest, Blur) {
    check_params<float>(filter_id::blur,
                        {0.0f, -0.0f, -3.0f, k_nan, 1e-30f, 0.1f, 0.25f, 0.5f, 0.50000006f, 1.0f, 1.5f, 3.3f, 10.0f},
                        200, 30, 2);
    check_params<float>(filter_id::blur, {50.0f, 77.0f, k_inf}, 260, 6, 3);
}

TEST_P(FastPathTest, Sharpen) {
    check_params<float>(filter_id::sharpen, {0.0f, -0.0f, -0.1f, 0.3f, 1.0f, 4.0f, 5.0f, 5.0000005f, k_nan}, 300, 40,
                        4);
}

TEST_P(FastPathTest, Kernel) {
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
        // Grids with weights of 0 (and -0), as few or as many as make the
        // fast path leave them out: none but zeros, a sharpening cross, and a
        // random grid with one weight of 0.
        grids.push_back(std::vector<float>(size * size, -0.0f));
        std::vector<float> cross(size * size, 0.0f);
        for (int i = 0; i < size * size; i += 2) cross[i] = -0.0f;
        for (int i : {size / 2, size * size / 2 - 1, size * size / 2 + 1, size * size - 1 - size / 2}) cross[i] = -1.0f;
        cross[size * size / 2] = 5.0f;
        grids.push_back(cross);
        std::vector<float> one_zero(size * size);
        for (float& w : one_zero) w = weight(rng);
        one_zero[size + 1] = 0.0f;
        grids.push_back(one_zero);
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
            expect_same(filter_id::kernel, GetParam(), in, &params, "kernel " + std::to_string(params.size));
            if (HasFatalFailure()) return;
        }
        for (int size : {4, -3, 0}) {
            const kernel_params params{grids[0].data(), size};
            expect_same(filter_id::kernel, GetParam(), in, &params, "kernel size " + std::to_string(size));
        }
        const kernel_params null_weights{nullptr, 3};
        expect_same(filter_id::kernel, GetParam(), in, &null_weights, "kernel NULL");
    }
}

TEST_P(FastPathTest, Emboss) { check_params<int>(filter_id::emboss, {0}, 300, 50, 6); }

TEST_P(FastPathTest, EdgeDetect) { check_params<int>(filter_id::edge_detect, {0}, 300, 50, 7); }

TEST_P(FastPathTest, Denoise) {
    check_params<int>(filter_id::denoise, {-5, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 160, 24, 8);
}

TEST_P(FastPathTest, Pixelate) { check_params<int>(filter_id::pixelate, {-3, 0, 1, 2, 3, 7, 16, 1000}, 300, 30, 9); }

TEST_P(FastPathTest, OilPaint) {
    check_params<int>(filter_id::oil_paint, {-3, 0, 1, 2, 3, 5, 7, 8, 12}, 120, 20, 10);
    check_params<int>(filter_id::oil_paint, {20, 29, 30, 31, 1000}, 80, 6, 11);
}

INSTANTIATE_TEST_SUITE_P(FastPath, FastPathTest, ::testing::ValuesIn(k_fast_paths),
                         [](const ::testing::TestParamInfo<code_path>& info) { return name_of(info.param); });
