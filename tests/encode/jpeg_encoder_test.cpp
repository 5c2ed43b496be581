// The JPEG encoder, in each compiled variant, against the system's libstb0
// (stbi_write_jpg_to_func, 4 components, quality 92), loaded at run time: the
// same bytes for every kind of picture at sizes around the block size and the
// variants' group widths; and what the sink sees.
#include <dlfcn.h>

#include <random>
#include <string>
#include <vector>

#include "encode/jpeg_encoder.h"
#include "test_support.h"

namespace {

using write_jpg_fn = int (*)(void (*)(void*, void*, int), void*, int, int, int, const void*, int);

write_jpg_fn system_write_jpg() {
    static void* const library = dlopen("libstb.so.0", RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<write_jpg_fn>(dlsym(library, "stbi_write_jpg_to_func")) : nullptr;
}

std::vector<uint8_t> system_jpeg(const test_image& image) {
    std::vector<uint8_t> bytes;
    const auto collect = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    };
    EXPECT_TRUE(system_write_jpg()(collect, &bytes, image.width, image.height, 4, image.bytes.data(), 92));
    return bytes;
}

// Collects what the encoder hands over, and in how many pieces.
struct collecting_sink : byte_sink {
    std::vector<uint8_t> bytes;
    std::vector<int> pieces;
    collecting_sink() {
        failed = false;
        write = [](byte_sink* s, const void* data, int size) {
            auto* self = static_cast<collecting_sink*>(s);
            self->pieces.push_back(size);
            const auto* bytes = static_cast<const uint8_t*>(data);
            self->bytes.insert(self->bytes.end(), bytes, bytes + size);
        };
    }
};

void encode(const test_image& image, code_path path, collecting_sink* sink) {
    test_image copy = image;
    EXPECT_TRUE(encode_jpeg_with({copy.width, copy.height, copy.bytes.data()}, sink, path));
    EXPECT_FALSE(sink->failed);
}

std::vector<uint8_t> our_jpeg(const test_image& image, code_path path) {
    collecting_sink sink;
    encode(image, path, &sink);
    return sink.bytes;
}

// Equal bytes, or where they first differ.
::testing::AssertionResult same_bytes(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& theirs) {
    size_t i = 0;
    while (i < ours.size() && i < theirs.size() && ours[i] == theirs[i]) ++i;
    if (i == ours.size() && i == theirs.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ours.size() << " bytes instead of " << theirs.size()
                                         << ", the first difference at byte " << i;
}

enum class picture { noise, flat, extremes, alternating, gradient, photo_like };
const picture k_pictures[] = {picture::noise,       picture::flat,     picture::extremes,
                              picture::alternating, picture::gradient, picture::photo_like};
const char* const k_picture_names[] = {"noise", "flat", "extremes", "alternating", "gradient", "photo-like"};

// Every picture has random alpha, which the encoder must not look at.
test_image make_picture(picture kind, int width, int height, std::mt19937& rng) {
    test_image image(width, height);
    const auto byte = [&rng] { return uint8_t(rng()); };
    const rgba base{byte(), byte(), byte(), 0};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgba p = base;
            switch (kind) {
                case picture::noise: p = {byte(), byte(), byte(), 0}; break;
                case picture::flat: break;
                case picture::extremes:
                    p = {uint8_t(rng() % 2 * 255), uint8_t(rng() % 2 * 255), uint8_t(rng() % 2 * 255), 0};
                    break;
                case picture::alternating: p = (x + y) % 2 ? rgba{255, 255, 255, 0} : rgba{0, 0, 0, 0}; break;
                case picture::gradient:
                    p = {uint8_t(x * 255 / width), uint8_t(y * 255 / height), uint8_t((x + y) * 3), 0};
                    break;
                case picture::photo_like:  // smooth shapes with a little noise
                    p = {uint8_t(base.r / 2 + (x * y / 7) % 90 + rng() % 9),
                         uint8_t(base.g / 2 + (x / 5) * 3 % 70 + rng() % 5), uint8_t(y * 2 + rng() % 3), 0};
                    break;
            }
            p.a = byte();
            image.set(x, y, p);
        }
    }
    return image;
}

const code_path k_paths[] = {code_path::portable, code_path::avx2, code_path::avx512};

std::string name_of(code_path path) {
    return path == code_path::avx512 ? "avx512" : path == code_path::avx2 ? "avx2" : "portable";
}

class JpegEncoder : public ::testing::TestWithParam<code_path> {
protected:
    void SetUp() override {
        if (GetParam() != code_path::portable && !IMGFILTER_X86_VARIANTS) GTEST_SKIP() << "not compiled in this build";
        if (!code_path_available(GetParam())) GTEST_SKIP() << "not supported by this processor";
        if (!system_write_jpg()) FAIL() << "libstb.so.0 (Debian's libstb0) cannot be loaded: " << dlerror();
    }
};

}  // namespace

TEST_P(JpegEncoder, SameBytesAsTheStbWriter) {
    // Sizes on both sides of the block (8) and of the variants' groups of 4,
    // 8 and 16 blocks (32, 64 and 128 pixels), single rows and columns.
    const int sizes[][2] = {{1, 1},   {7, 9},   {8, 8},    {9, 17},  {16, 16}, {33, 5},  {517, 1},
                            {1, 517}, {31, 2},  {65, 3},   {127, 8}, {129, 9}, {255, 7}, {300, 200},
                            {257, 129}};
    std::mt19937 rng(92);
    for (const auto& size : sizes) {
        for (picture kind : k_pictures) {
            const test_image image = make_picture(kind, size[0], size[1], rng);
            ASSERT_TRUE(same_bytes(our_jpeg(image, GetParam()), system_jpeg(image)))
                << k_picture_names[int(kind)] << " " << size[0] << "x" << size[1];
        }
    }
}

// Noise makes the largest files: over a megabyte, many times the coder's
// buffer, with FF bytes everywhere in the coded stream.
TEST_P(JpegEncoder, LargeNoiseInLargePieces) {
    std::mt19937 rng(7);
    const test_image image = make_picture(picture::noise, 700, 500, rng);
    collecting_sink sink;
    encode(image, GetParam(), &sink);
    ASSERT_TRUE(same_bytes(sink.bytes, system_jpeg(image)));
    const std::vector<int>& pieces = sink.pieces;
    ASSERT_GT(pieces.size(), 10u);
    for (size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_GE(pieces[i], 60 * 1024) << "piece " << i;
}

// Once the sink has failed, the encoder gives it nothing more and stops.
TEST_P(JpegEncoder, StopsFeedingAFailedSink) {
    std::mt19937 rng(11);
    test_image image = make_picture(picture::noise, 400, 400, rng);
    struct failing_sink : byte_sink {
        int pieces = 0;
    } sink;
    sink.failed = false;
    sink.write = [](byte_sink* s, const void*, int) {
        ++static_cast<failing_sink*>(s)->pieces;
        s->failed = true;
    };
    EXPECT_TRUE(encode_jpeg_with({image.width, image.height, image.bytes.data()}, &sink, GetParam()));
    EXPECT_TRUE(sink.failed);
    EXPECT_EQ(sink.pieces, 1);
}

INSTANTIATE_TEST_SUITE_P(Paths, JpegEncoder, ::testing::ValuesIn(k_paths),
                         [](const ::testing::TestParamInfo<code_path>& info) { return name_of(info.param); });
