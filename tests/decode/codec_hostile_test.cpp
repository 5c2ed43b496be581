// Hostile files against the compiled-in codec: cost bombs refused or bounded
// (the regression files' reasons are in regression_outcomes_test.cpp),
// reasons kept to one printable line, and no byte of leftover memory in any
// output.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "codec_files.h"
#include "imgfilter.h"
#include "decode/decode_image.h"
#include "test_support.h"

namespace {

byte_vector regression(const char* name) {
    return read_bytes(std::string(IMGFILTER_FUZZ_REGRESSIONS) + "/file/" + name);
}

class CodecHostile : public pipeline_on_bytes {};

// What only the compiled-in codec does: the decode budget and zeroed memory.
#ifdef IMGFILTER_SYSTEM_STB
#define SKIP_WITH_SYSTEM_STB() GTEST_SKIP() << "the system libstb has no decode budget and no zeroing allocator"
#else
#define SKIP_WITH_SYSTEM_STB() static_cast<void>(0)
#endif

struct reason_case {
    const char* raw;
    const char* printable;
};

}  // namespace

TEST(PrintableReason, ControlBytesAreEscapedAndEmptyIsUnknown) {
    const reason_case cases[] = {
        {"outofmem", "outofmem"},
        {"\n\x1b[2 PNG chunk not known", "\\x0a\\x1b[2 PNG chunk not known"},
        {"tab\there", "tab\\x09here"},
        {"del\x7f", "del\\x7f"},
        {"high\xc3\xa9", "high\\xc3\\xa9"},
        {"back\\slash", "back\\x5cslash"},
        {"", "unknown"},
        {nullptr, "unknown"},
    };
    for (const reason_case& c : cases) {
        decode_reason reason;
        printable_reason(c.raw, &reason);
        EXPECT_STREQ(reason.text, c.printable);
    }
    // Too long a reason is cut, never split inside an escape.
    const std::string controls(100, '\x01');
    decode_reason reason;
    printable_reason(controls.c_str(), &reason);
    EXPECT_EQ(std::string(reason.text).size() % 4, 0u);
    EXPECT_LT(std::string(reason.text).size(), sizeof reason.text);
}

// The same BMP with the pixel data it declares is a valid file; without the
// padding of its last row it still is.
TEST_F(CodecHostile, BmpsHoldingTheirPixelDataDecode) {
    bmp_spec spec{5, 3, 24, 40, 0, {}, {}};
    byte_vector whole = make_bmp(spec, [](int x, int y) { return uint32_t(x * 40 + y); });
    EXPECT_EQ(run(whole), 1) << imgfilter_last_error();
    whole.resize(whole.size() - 1);  // 15 bytes a row and 1 of padding
    EXPECT_EQ(run(whole), 1) << imgfilter_last_error();
    whole.resize(whole.size() - 1);
    EXPECT_EQ(run(whole), 0);
    EXPECT_EQ(imgfilter_last_error(), decode_failure("truncated"));
}

// Rows run top-down when the height is stored negative; such a file meets
// every guard its bottom-up twin meets, with the same reason. A header the
// file ends inside is the decoder's to refuse: it compares the pixel-data
// offset with where its reading stopped, the end of the file.
TEST_F(CodecHostile, TopDownBmpsMeetTheGuardsOfTheirBottomUpTwins) {
    const auto pixel = [](int x, int y) { return uint32_t(x * 40 + y); };
    const auto index = [](int x, int) { return uint32_t(x % 3); };  // index 2 lies past a palette of two
    const auto cut_to = [](size_t size) { return [size](byte_vector* file) { file->resize(size); }; };
    const auto offset_at = [](uint8_t offset) {
        return [offset](byte_vector* file) { std::copy_n(byte_vector{offset, 0, 0, 0}.begin(), 4, file->begin() + 10); };
    };
    struct guard_case {
        const char* name;
        bmp_spec spec;
        std::function<uint32_t(int, int)> value;
        std::function<void(byte_vector*)> damage;
        const char* reason;
    } cases[] = {
        {"last row cut short", {5, 3, 24, 40, 0, {}, {}}, pixel, cut_to(54 + 2 * 16 + 14), "truncated"},
        {"16384 square, no pixel data", {16384, 16384, 24, 40, 0, {}, {}}, pixel, cut_to(54), "truncated"},
        {"index past the palette", {3, 2, 8, 40, 0, {}, {0x0A141E, 0xC86432}}, index, nullptr, "bad palette index"},
        {"offset inside the header", {3, 2, 8, 40, 0, {}, {0x0A141E, 0xC86432}}, index, offset_at(4), "bad palette index"},
        {"cut inside a 40-byte header", {5, 3, 24, 40, 0, {}, {}}, pixel, cut_to(30), "bad offset"},
        {"cut after 54 bytes of a 108-byte header", {5, 3, 32, 108, 0, {}, {}}, pixel, cut_to(54), "bad offset"},
        {"cut after 60 bytes of a 124-byte header", {5, 3, 24, 124, 0, {}, {}}, pixel, cut_to(60), "bad offset"},
    };
    for (guard_case& c : cases) {
        for (const int direction : {1, -1}) {
            bmp_spec spec = c.spec;
            spec.height *= direction;
            byte_vector file = make_bmp(spec, c.value);
            if (c.damage) c.damage(&file);
            const std::string what = std::string(c.name) + (direction < 0 ? ", top-down" : ", bottom-up");
            EXPECT_EQ(run(file), 0) << what;
            EXPECT_EQ(imgfilter_last_error(), decode_failure(c.reason)) << what;
            EXPECT_FALSE(file_exists(dir.path("out.png"))) << what;
        }
    }
}

// A grey baseline JPEG of width x height pixels whose every block is coded in
// the fewest bits possible, two: one-bit codes for a DC difference of 0 and for
// the end of the block. Its entropy-coded data is `data_bytes` zero bytes,
// 4 blocks each; fewer than blocks / 4 cut the image short.
byte_vector fewest_bits_jpeg(unsigned width, unsigned height, size_t data_bytes) {
    byte_vector file{0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    file.insert(file.end(), 64, 1);
    const byte_vector frame{0xFF, 0xC0, 0, 11, 8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
                            uint8_t(width), 1, 1, 0x11, 0};
    file.insert(file.end(), frame.begin(), frame.end());
    for (const uint8_t table : {0x00, 0x10}) {  // DC, then AC: one code of length 1, symbol 0
        const byte_vector dht{0xFF, 0xC4, 0, 20, table, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        file.insert(file.end(), dht.begin(), dht.end());
    }
    const byte_vector scan{0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0};
    file.insert(file.end(), scan.begin(), scan.end());
    file.insert(file.end(), data_bytes, 0);
    file.push_back(0xFF);
    file.push_back(0xD9);
    return file;
}

// A sequential scan decodes every block it declares and reads zero bits once
// its data runs out. Data short of an eighth of the fewest bytes its blocks
// take (blocks / 32 bytes) is refused before anything is allocated; images of
// 4096 blocks or fewer are always decoded.
TEST_F(CodecHostile, SequentialJpegsMustHoldDataForTheirBlocks) {
    struct data_case {
        unsigned width, height;
        size_t data_bytes;
        bool refused;
    } cases[] = {
        {512, 1024, 8192 / 4, false},  // 8192 blocks, complete
        {512, 1024, 8192 / 32, false},  // at the bound
        {512, 1024, 8192 / 32 - 1, true},
        {512, 1024, 0, true},
        {512, 512, 0, false},  // 4096 blocks
        {8 * 4097, 8, 0, true},
        {8 * 4097, 8, 129, false},  // 4097 / 32 rounded up
        {8 * 4097, 8, 128, true},
    };
    for (const data_case& c : cases) {
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                                 std::to_string(c.data_bytes) + " bytes of data";
        EXPECT_EQ(run(fewest_bits_jpeg(c.width, c.height, c.data_bytes)), c.refused ? 0 : 1) << what;
        EXPECT_EQ(imgfilter_last_error(), c.refused ? decode_failure("truncated") : "") << what;
        if (!c.refused) {
            EXPECT_EQ(load_image(dir.path("out.png")).at(1, 1), (rgba{128, 128, 128, 255})) << what;
        }
    }
}

// A photograph cut short, even to a twentieth of its data, meets the decoder
// as it always did, which decodes it and then finds no marker after the data.
TEST_F(CodecHostile, PhotographsCutShortAreLeftToTheDecoder) {
    const byte_vector photo = read_bytes(std::string(IMGFILTER_SAMPLES) + "/rocket.jpg");
    ASSERT_FALSE(photo.empty());
    for (const size_t part : {2, 20}) {
        const byte_vector cut(photo.begin(), photo.begin() + long(photo.size() / part));
        EXPECT_EQ(run(cut), 0);
        EXPECT_EQ(imgfilter_last_error(), decode_failure("expected marker")) << "1/" << part;
    }
}

// 1 x 1 pixels whose data inflates to 64 MB: the budget (about 1 MB for such a
// file) is spent long before, and the decoder gives up with its own reason.
TEST_F(CodecHostile, InflateBombFailsOutOfMemoryAtOnce) {
    SKIP_WITH_SYSTEM_STB();
    const byte_vector bomb = inflate_bomb_png(64ull << 20);
    ASSERT_LT(bomb.size(), 600u * 1024);
    EXPECT_EQ(run(bomb), 0);
    EXPECT_EQ(imgfilter_last_error(), decode_failure("outofmem"));
}

// The costliest valid files stay within the decode budget even when their
// compressed data is tiny beside the image: 16-bit interlaced PNGs (about 9
// times width x height x 4 for RGBA), a one-pixel column among them.
TEST_F(CodecHostile, LargeValidFilesStayWithinTheDecodeBudget) {
    const png_spec specs[] = {
        {1024, 1024, 16, 6, true, {}, {}, true},
        {1024, 768, 16, 2, true, {}, {0, 1, 0, 2, 0, 3}, true},
        {1024, 1024, 16, 0, true, {}, {0, 9}, true},
        {1, 200000, 16, 6, true, {}, {}, true},
    };
    for (const png_spec& spec : specs) {
        const byte_vector file = make_png(spec, [](int x, int, int) { return x % 600 < 300 ? 0u : 0xABABu; });
        // The file's own share of the budget (4 times its length) cannot admit it alone.
        EXPECT_LT(file.size(), size_t(spec.width) * spec.height * 4 / 2) << spec.width << "x" << spec.height;
        filter_image image{};
        decode_reason reason;
        ASSERT_TRUE(decode_image(file.data(), int(file.size()), &image, &reason)) << spec.width << "x" << spec.height << ": " << reason.text;
        EXPECT_EQ(image.width, int(spec.width));
        std::free(image.pixels);
    }
}

// Pixels the decoder never writes are zero, whatever the earlier calls left in
// memory: the file whose restart interval abandons a scan, and palette indices
// past a PNG's palette, come out the same after a white and after a red image.
TEST_F(CodecHostile, OutputsShowNoLeftoverMemory) {
    SKIP_WITH_SYSTEM_STB();
    const char* const names[] = {"jpeg-restart-interval-scan-abandoned", "png-palette-indices-past-palette"};
    for (const char* name : names) {
        std::vector<byte_vector> outputs;
        for (const rgba colour : {rgba{255, 255, 255, 255}, rgba{255, 0, 0, 255}}) {
            ASSERT_TRUE(write_png(dir.path("before.png"), test_image(64, 64, colour)));
            ASSERT_EQ(imgfilter_pixelate(dir.path("before.png").c_str(), dir.path("before_out.png").c_str(), 1), 1);
            ASSERT_EQ(run(regression(name)), 1) << name << ": " << imgfilter_last_error();
            outputs.push_back(read_bytes(dir.path("out.png")));
        }
        EXPECT_EQ(outputs[0], outputs[1]) << name;
    }
    // Indices past the palette read zeroed entries: transparent black.
    ASSERT_EQ(run(regression("png-palette-indices-past-palette")), 1);
    const test_image image = load_image(dir.path("out.png"));
    ASSERT_EQ(image.width, 8);
    EXPECT_EQ(image.at(0, 0), (rgba{10, 20, 30, 255}));
    EXPECT_EQ(image.at(1, 0), (rgba{200, 100, 50, 255}));
    EXPECT_EQ(image.at(2, 0), (rgba{0, 0, 0, 0}));
}
