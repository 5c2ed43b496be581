// What every filter promises, checked for each entry of the filter table:
// flat and single-pixel pictures come out as documented, alpha stays the
// input's, a call that cannot read its input says so before judging its
// parameter, a failed call writes nothing, and a successful call writes the
// worker's pixels and leaves the message empty. Each filter's own arithmetic
// is tested in its <filter>_test.cpp.
#include <climits>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "filter_calls.h"
#include "imgfilter.h"
#include "test_support.h"

namespace {

const float k_inf = std::numeric_limits<float>::infinity();
const float k_nan = std::numeric_limits<float>::quiet_NaN();

// A grid of the given size, zero but for one weight.
std::vector<float> single_weight(int size, int index, float weight) {
    std::vector<float> grid(size * size, 0.0f);
    grid[index] = weight;
    return grid;
}

std::vector<float> varied_grid() {
    std::vector<float> grid(25);
    for (int i = 0; i < 25; ++i) grid[i] = static_cast<float>(i % 7) - 2.5f;
    return grid;
}

const std::vector<float> k_identity_3 = single_weight(3, 4, 1.0f), k_identity_5 = single_weight(5, 12, 1.0f);
const std::vector<float> k_mean_3(9, 1.0f / 9.0f), k_mean_5(25, 1.0f / 25.0f);
const std::vector<float> k_varied_5 = varied_grid();
const std::vector<float> k_nan_last_3 = single_weight(3, 8, k_nan), k_all_nan_5(25, k_nan);

// How a filter treats alpha and colour.
enum class output { colour, grey, averaged_alpha };

struct refusal {
    param value;
    std::string message;
};

struct flat_picture {
    int width, height;
    rgba colour;
};

struct contract_row {
    filter_id id;
    output pixels;
    std::vector<param> accepted;    // change most pictures
    std::vector<param> identities;  // leave every picture as it was
    std::vector<refusal> refused;   // on any picture; a missing input is reported first
    std::vector<param> flat_params;
    std::vector<flat_picture> flats;
    int flat_grey;  // what every flat picture becomes, alpha kept; -1: as it was
};

const contract_row k_rows[] = {
    {filter_id::vignette, output::colour, {0.5f, 1.0f}, {0.0f, -0.0f},
     {{-0.5f, "vignette: strength must be non-negative, got -0.5"}},
     {1.0f}, {{1, 1, {200, 100, 50, 128}}}, -1},
    {filter_id::blur, output::colour, {0.5f, 2.0f, 50.0f, k_inf},
     {1e-30f, std::numeric_limits<float>::denorm_min(), 1e-23f},
     {{0.0f, "blur: radius must be positive, got 0"},
      {-0.0f, "blur: radius must be positive, got -0"},
      {-3.0f, "blur: radius must be positive, got -3"},
      {-k_inf, "blur: radius must be positive, got -inf"},
      {k_nan, "blur: radius must be positive, got nan"}},
     {0.3f, 1.0f, 7.5f, 80.0f, k_inf}, {{6, 4, {37, 200, 255, 90}}, {1, 1, {1, 128, 254, 3}}}, -1},
    {filter_id::sharpen, output::colour, {3.0f}, {0.0f, -0.0f},
     {{5.5f, "sharpen: amount 5.5 out of range 0.0..5.0"},
      {std::nextafter(5.0f, 6.0f), "sharpen: amount 5 out of range 0.0..5.0"},
      {-0.1f, "sharpen: amount -0.1 out of range 0.0..5.0"},
      {9.0f, "sharpen: amount 9 out of range 0.0..5.0"},
      {k_nan, "sharpen: amount nan out of range 0.0..5.0"},
      {k_inf, "sharpen: amount inf out of range 0.0..5.0"}},
     {0.1f, 1.0f, 2.5f, 5.0f}, {{4, 3, {0, 77, 255, 10}}, {1, 1, {200, 3, 99, 0}}}, -1},
    // The pointer is judged first, then the size, then the weights.
    {filter_id::kernel, output::colour, {{k_varied_5.data(), 5}},
     {{k_identity_3.data(), 3}, {k_identity_5.data(), 5}},
     {{{k_nan_last_3.data(), 3}, "kernel: weights[8] is not a number"},
      {{nullptr, 3}, "kernel: weights pointer is NULL"},
      {{nullptr, 4}, "kernel: weights pointer is NULL"},
      {{k_all_nan_5.data(), 4}, "kernel: size must be 3 or 5, got 4"},
      {{k_all_nan_5.data(), -3}, "kernel: size must be 3 or 5, got -3"},
      {{k_all_nan_5.data(), 0}, "kernel: size must be 3 or 5, got 0"},
      {{k_all_nan_5.data(), 1}, "kernel: size must be 3 or 5, got 1"}},
     {{k_mean_3.data(), 3}, {k_mean_5.data(), 5}}, {{5, 5, {255, 128, 1, 60}}, {1, 1, {255, 128, 1, 60}}}, -1},
    {filter_id::emboss, output::grey, {param()}, {}, {},
     {param()}, {{4, 3, {255, 0, 99, 17}}, {1, 1, {3, 250, 40, 0}}}, 128},
    {filter_id::edge_detect, output::grey, {param()}, {}, {},
     {param()}, {{5, 2, {10, 250, 130, 44}}, {1, 1, {255, 255, 255, 1}}}, 0},
    {filter_id::denoise, output::colour, {1, 4, 5, 10}, {},
     {{0, "denoise: strength 0 out of range 1..10"},
      {11, "denoise: strength 11 out of range 1..10"},
      {-5, "denoise: strength -5 out of range 1..10"},
      {INT_MIN, "denoise: strength -2147483648 out of range 1..10"},
      {INT_MAX, "denoise: strength 2147483647 out of range 1..10"}},
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {{9, 8, {250, 7, 133, 21}}, {1, 1, {1, 2, 3, 4}}}, -1},
    {filter_id::pixelate, output::averaged_alpha, {2}, {1},
     {{0, "pixelate: block_size must be >= 1, got 0"},
      {-3, "pixelate: block_size must be >= 1, got -3"},
      {INT_MIN, "pixelate: block_size must be >= 1, got -2147483648"}},
     {2, 3}, {{5, 3, {90, 140, 200, 77}}, {1, 1, {255, 0, 128, 2}}}, -1},
    {filter_id::oil_paint, output::colour, {1, 3}, {},
     {{0, "oil_paint: radius must be >= 1, got 0"},
      {-3, "oil_paint: radius must be >= 1, got -3"},
      {INT_MIN, "oil_paint: radius must be >= 1, got -2147483648"}},
     {1, 2, 7, 30, 31}, {{5, 4, {9, 99, 199, 33}}, {1, 1, {255, 0, 128, 2}}}, -1},
};

// Any picture will do for what must hold on every picture.
const test_image k_picture = varied_image(13, 9);

class FilterContract : public ::testing::TestWithParam<filter_entry> {
protected:
    void SetUp() override {
        for (const contract_row& row : k_rows)
            if (row.id == GetParam().id) row_ = &row;
        ASSERT_NE(row_, nullptr) << GetParam().name << " has no row in the contract table";
    }

    const contract_row& row() const { return *row_; }
    const void* record(const param& value) const { return value.record(GetParam().kind); }
    std::string describe(const param& value) const {
        return std::string(GetParam().name) + " with " + value.text(GetParam().kind);
    }
    file_call exported(const param& value) const {
        return [this, &value](const char* input, const char* output) {
            return call_exported(GetParam().id, input, output, record(value));
        };
    }

private:
    const contract_row* row_ = nullptr;
};

}  // namespace

// For failure messages: the filter's name rather than the entry's bytes.
void PrintTo(const filter_entry& filter, std::ostream* out) { *out << filter.name; }

TEST_P(FilterContract, FlatAndSinglePixelPictures) {
    for (const param& value : row().flat_params) {
        for (const flat_picture& flat : row().flats) {
            const rgba c = flat.colour;
            const rgba expected = row().flat_grey < 0 ? c : grey(static_cast<uint8_t>(row().flat_grey), c.a);
            test_image out;
            ASSERT_EQ(run_worker(GetParam().worker, test_image(flat.width, flat.height, c), record(value), &out), 1);
            EXPECT_EQ(out, test_image(flat.width, flat.height, expected)) << describe(value) << " on " << c;
        }
    }
}

TEST_P(FilterContract, AlphaIsTheInputs) {
    if (row().pixels == output::averaged_alpha) GTEST_SKIP() << GetParam().name << " averages alpha with the colours";
    for (const param& value : row().accepted) {
        set_err("stale");
        test_image out;
        ASSERT_EQ(run_worker(GetParam().worker, k_picture, record(value), &out), 1);
        EXPECT_STREQ(imgfilter_last_error(), "");
        EXPECT_TRUE(alpha_kept_colour_changed(k_picture, out)) << describe(value);
        if (row().pixels != output::grey) continue;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const rgba p = out.at(x, y);
                EXPECT_EQ(p, grey(p.r, k_picture.at(x, y).a)) << x << "," << y;
            }
        }
    }
}

// The exported function writes what the worker makes of the decoded pixels;
// a parameter that changes nothing gives the picture back.
TEST_P(FilterContract, CallsWriteTheWorkersPixels) {
    const auto check = [&](const param& value, bool identity) {
        SCOPED_TRACE(describe(value));
        set_err("stale");
        test_image expected;
        ASSERT_EQ(run_worker(GetParam().worker, k_picture, record(value), &expected), 1);
        EXPECT_STREQ(imgfilter_last_error(), "");
        if (identity) {
            EXPECT_EQ(expected, k_picture);
        }
        const file_run run = run_on_files(k_picture, [&](const char* input, const char* output) {
            set_err("stale");
            const int result = exported(value)(input, output);
            EXPECT_EQ(load_image(output), expected);
            return result;
        });
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.message, "");
        EXPECT_TRUE(run.wrote_output);
    };
    for (const param& value : row().accepted) check(value, false);
    for (const param& value : row().identities) check(value, true);
}

// A missing input is reported before a bad parameter; a refused parameter is
// named; neither failure leaves an output file.
TEST_P(FilterContract, FailuresSayWhyAndWriteNothing) {
    std::vector<param> unreadable_with;
    for (const refusal& r : row().refused) {
        unreadable_with.push_back(r.value);
        const file_run run = run_on_files(k_picture, exported(r.value));
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.message, r.message);
        EXPECT_FALSE(run.wrote_output) << r.message;
    }
    if (unreadable_with.empty()) unreadable_with.push_back(param());  // a filter without a parameter
    for (const param& value : unreadable_with) {
        const file_run run = run_on_missing_input(exported(value));
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.message, std::string(GetParam().name) + ": cannot read input file '" + run.input + "'");
        EXPECT_FALSE(run.wrote_output) << describe(value);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFilter, FilterContract, ::testing::ValuesIn(k_filters, k_filters + k_filter_count),
                         [](const ::testing::TestParamInfo<filter_entry>& info) { return info.param.name; });
