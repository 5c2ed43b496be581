// The compiled-in stb against the system's libstb0, loaded at run time: over a
// corpus of every kind of file the library reads, valid and damaged, both must
// give the same pixels where both decode and the same reason where both fail,
// and both encoders the same bytes (JPEG at quality 92, PNG, BMP). Where the
// library's decode now refuses or zeroes what the system one did not, the case
// is named in the test's output with the reason.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "codec_files.h"
#include "common/memory_sink.h"
#include "decode/decode_guards.h"
#include "decode/decode_image.h"
#include "encode/encode_image.h"
#include "encode/png_writer.h"
#include "simd/bmp_channel_order.h"
#include "simd/code_path.h"
#include "stb_image.h"
#include "stb_image_write.h"
#include "test_support.h"

namespace {

// The system library's entry points, looked up in it alone.
struct system_stb {
    void* handle = nullptr;
    decltype(&stbi_load_from_memory) load = nullptr;
    decltype(&stbi_failure_reason) failure_reason = nullptr;
    decltype(&stbi_image_free) image_free = nullptr;
    decltype(&stbi_write_jpg_to_func) write_jpg = nullptr;
    decltype(&stbi_write_png_to_func) write_png = nullptr;
    decltype(&stbi_write_bmp_to_func) write_bmp = nullptr;

    static const system_stb& get() {
        static const system_stb s = [] {
            system_stb library;
            library.handle = dlopen("libstb.so.0", RTLD_NOW | RTLD_LOCAL);
            if (!library.handle) return library;
            library.load = reinterpret_cast<decltype(load)>(dlsym(library.handle, "stbi_load_from_memory"));
            library.failure_reason = reinterpret_cast<decltype(failure_reason)>(dlsym(library.handle, "stbi_failure_reason"));
            library.image_free = reinterpret_cast<decltype(image_free)>(dlsym(library.handle, "stbi_image_free"));
            library.write_jpg = reinterpret_cast<decltype(write_jpg)>(dlsym(library.handle, "stbi_write_jpg_to_func"));
            library.write_png = reinterpret_cast<decltype(write_png)>(dlsym(library.handle, "stbi_write_png_to_func"));
            library.write_bmp = reinterpret_cast<decltype(write_bmp)>(dlsym(library.handle, "stbi_write_bmp_to_func"));
            return library;
        }();
        return s;
    }
    bool complete() const { return load && failure_reason && image_free && write_jpg && write_png && write_bmp; }
};

struct outcome {
    bool decoded = false;
    test_image image;
    std::string reason;
    bool operator==(const outcome& o) const { return decoded == o.decoded && image == o.image && reason == o.reason; }
};

// Leaves freed heap blocks and the stack below the caller full of one byte, so
// that a decoder showing leftover memory shows that byte.
__attribute__((noinline)) void dirty_memory(uint8_t pattern) {
    uint8_t stack[64 * 1024];
    std::memset(stack, pattern, sizeof stack);
    asm volatile("" : : "r"(stack) : "memory");  // the stores must happen
    // Held all at once and then freed, below the size that malloc maps afresh:
    // the freed space merges into large dirty areas that later blocks come from.
    std::vector<void*> blocks;
    for (size_t size = 32; size <= 96 * 1024; size = size * 3 / 2) {
        for (int i = 0; i < 8; ++i) {
            void* block = std::malloc(size);
            std::memset(block, pattern, size);
            blocks.push_back(block);
        }
    }
    for (void* block : blocks) std::free(block);
}

outcome ours(const byte_vector& file, uint8_t pattern) {
    dirty_memory(pattern);
    outcome result;
    filter_image image{};
    decode_reason reason;
    result.decoded = decode_image(file.data(), int(file.size()), &image, &reason);
    if (result.decoded) {
        result.image.width = image.width;
        result.image.height = image.height;
        result.image.bytes.assign(image.pixels, image.pixels + size_t(image.width) * size_t(image.height) * 4);
        std::free(image.pixels);
    } else {
        result.reason = reason.text;
    }
    return result;
}

outcome theirs(const byte_vector& file, uint8_t pattern) {
    const system_stb& stb = system_stb::get();
    dirty_memory(pattern);
    outcome result;
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stb.load(file.data(), int(file.size()), &width, &height, &channels, 4);
    result.decoded = pixels != nullptr;
    if (pixels) {
        result.image.width = width;
        result.image.height = height;
        result.image.bytes.assign(pixels, pixels + size_t(width) * size_t(height) * 4);
        stb.image_free(pixels);
    } else {
        decode_reason reason;
        printable_reason(stb.failure_reason(), &reason);
        result.reason = reason.text;
    }
    return result;
}

#ifdef IMGFILTER_SANITIZE
constexpr bool k_sanitized = true;
#else
constexpr bool k_sanitized = false;
#endif

struct corpus_file {
    std::string name;
    byte_vector bytes;
    bool valid;  // made whole, not damaged: it must decode, on both sides
};

unsigned sample_at(int x, int y, int c) { return unsigned(x * 37 + y * 101 + c * 59 + x * y * 7) * 2654435761u >> 13; }

std::vector<corpus_file> valid_files(const scratch_dir& dir) {
    std::vector<corpus_file> files;
    const test_image picture = varied_image(19, 11);
    const auto add_written = [&](const std::string& name, int channels, const char* kind, int quality) {
        const std::string path = dir.path(name);
        std::vector<uint8_t> pixels;
        for (size_t i = 0; i < picture.bytes.size(); i += 4)
            for (int c = 0; c < channels; ++c) pixels.push_back(picture.bytes[i + size_t(c)]);
        int ok = 0;
        if (std::string(kind) == "png") ok = stbi_write_png(path.c_str(), 19, 11, channels, pixels.data(), 19 * channels);
        if (std::string(kind) == "bmp") ok = stbi_write_bmp(path.c_str(), 19, 11, channels, pixels.data());
        if (std::string(kind) == "jpg") ok = stbi_write_jpg(path.c_str(), 19, 11, channels, pixels.data(), quality);
        EXPECT_TRUE(ok) << name;
        files.push_back({name, read_bytes(path), true});
    };
    for (int channels = 1; channels <= 4; ++channels) add_written("png-8bit-" + std::to_string(channels) + "ch", channels, "png", 0);
    add_written("bmp-24bit-written", 3, "bmp", 0);
    add_written("bmp-32bit-written", 4, "bmp", 0);
    add_written("jpeg-baseline-q92", 3, "jpg", 92);
    add_written("jpeg-baseline-q50-subsampled", 3, "jpg", 50);
    for (const char* name : {"progressive.jpg", "grey_progressive.jpg", "progressive_restart.jpg", "restart.jpg",
                             "grey.jpg", "progressive_422_restart.jpg", "grey16.png", "rgba16_interlaced.png",
                             "palette_transparent.png", "palette1.bmp", "palette8.bmp"})
        files.push_back({std::string("data-") + name, read_bytes(std::string(IMGFILTER_TEST_DATA) + "/" + name), true});

    // PNG: every colour type at every depth it allows, plain and interlaced.
    const std::pair<uint8_t, std::vector<uint8_t>> depths[] = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const auto& [type, type_depths] : depths) {
        for (uint8_t depth : type_depths) {
            for (bool interlaced : {false, true}) {
                png_spec spec{13, 9, depth, type, interlaced, {}, {}};
                const unsigned entries = type == 3 ? 1u << depth : 0;
                for (unsigned i = 0; i < entries; ++i)
                    spec.palette.insert(spec.palette.end(), {uint8_t(i * 40), uint8_t(255 - i * 13), uint8_t(i * 7)});
                const std::string name = "png-type" + std::to_string(type) + "-depth" + std::to_string(depth) +
                                         (interlaced ? "-interlaced" : "");
                files.push_back({name, make_png(spec, sample_at), true});
            }
        }
    }
    png_spec palette_trns{9, 7, 8, 3, false, {}, {0, 128, 255}};
    for (unsigned i = 0; i < 5; ++i) palette_trns.palette.insert(palette_trns.palette.end(), {uint8_t(i * 50), 9, uint8_t(200 - i)});
    files.push_back({"png-palette-trns", make_png(palette_trns, [](int x, int y, int) { return unsigned(x + y) % 5; }), true});
    png_spec rgb_trns{9, 7, 8, 2, true, {}, {0, 10, 0, 20, 0, 30}};
    files.push_back({"png-rgb-trns-interlaced", make_png(rgb_trns, [](int x, int y, int c) { return unsigned(x + y + c) % 2 ? 10u * (c + 1) : 77u; }), true});
    png_spec grey16_trns{9, 7, 16, 0, false, {}, {0x12, 0x34}};
    files.push_back({"png-grey16-trns", make_png(grey16_trns, [](int x, int, int) { return x % 2 ? 0x1234u : 0xABCDu; }), true});

    // BMP: 1, 4 and 8 bits with palettes, 16 bits 5-5-5 and 5-6-5 bitfields,
    // 24, 32 plain and with bitfields, top-down, the old 12-byte header, V4/V5.
    const std::vector<uint32_t> palette16 = [] {
        std::vector<uint32_t> p;
        for (uint32_t i = 0; i < 16; ++i) p.push_back(i * 0x0F0D0B);
        return p;
    }();
    std::vector<uint32_t> palette256;
    for (uint32_t i = 0; i < 256; ++i) palette256.push_back(i * 0x010203u & 0xFFFFFF);
    const auto index = [](unsigned range) { return [range](int x, int y) { return uint32_t(x * 3 + y * 5) % range; }; };
    const auto packed = [](int x, int y) { return uint32_t(x * 2654435761u ^ y * 40503u); };
    const auto colour_only = [packed](int x, int y) { return packed(x, y) & 0xFFFFFFu; };
    struct bmp_case {
        const char* name;
        bmp_spec spec;
        std::function<uint32_t(int, int)> value;
    };
    bmp_case bmps[] = {
        {"bmp-1bit", {17, 5, 1, 40, 0, {}, {0x102030, 0xF0E0D0}}, index(2)},
        {"bmp-4bit", {11, 6, 4, 40, 0, {}, palette16}, index(16)},
        {"bmp-8bit", {10, 4, 8, 40, 0, {}, palette256}, index(256)},
        {"bmp-8bit-small-palette", {7, 3, 8, 40, 0, {}, {1, 2, 3, 4, 5}}, index(5)},
        {"bmp-16bit-555", {9, 5, 16, 40, 0, {}, {}}, packed},
        {"bmp-16bit-565-bitfields", {9, 5, 16, 40, 3, {0xF800, 0x07E0, 0x001F, 0}, {}}, packed},
        {"bmp-24bit", {7, 5, 24, 40, 0, {}, {}}, packed},
        {"bmp-32bit", {7, 5, 32, 40, 0, {}, {}}, packed},
        {"bmp-32bit-bitfields", {7, 5, 32, 40, 3, {0xFF0000, 0xFF00, 0xFF, 0}, {}}, packed},
        {"bmp-32bit-zero-alpha", {7, 5, 32, 40, 0, {}, {}}, colour_only},
        {"bmp-32bit-v4-plain-zero-alpha", {6, 4, 32, 108, 0, {0xFF, 0xFF00, 0xFF0000, 0}, {}}, colour_only},
        {"bmp-32bit-v4-plain-alpha", {6, 4, 32, 108, 0, {0xFF, 0xFF00, 0xFF0000, 0}, {}}, packed},
        {"bmp-32bit-v5-top-down", {7, -5, 32, 124, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, {}}, packed},
        {"bmp-32bit-v4-alpha", {7, 5, 32, 108, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, {}}, packed},
        {"bmp-32bit-v5-shuffled", {7, 5, 32, 124, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000u}, {}}, packed},
        {"bmp-24bit-v3-56", {6, 4, 24, 56, 0, {}, {}}, packed},
        {"bmp-24bit-top-down", {7, -5, 24, 40, 0, {}, {}}, packed},
        {"bmp-8bit-top-down", {6, -4, 8, 40, 0, {}, palette256}, index(256)},
        {"bmp-core-8bit", {6, 4, 8, 12, 0, {}, palette256}, index(256)},
        {"bmp-core-24bit", {6, 4, 24, 12, 0, {}, {}}, packed},
    };
    for (const bmp_case& c : bmps) files.push_back({c.name, make_bmp(c.spec, c.value), true});
    return files;
}

// Damaged copies of every valid file: cut short and with bits flipped.
std::vector<corpus_file> damaged_files(const std::vector<corpus_file>& valid) {
    std::vector<corpus_file> files;
    uint32_t state = 20261209;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (const corpus_file& file : valid) {
        // Also within a BMP's V4 header, past the fields every header has.
        for (size_t cut : {std::min<size_t>(60, file.bytes.size() - 1), file.bytes.size() / 3,
                           file.bytes.size() * 2 / 3, file.bytes.size() - 1})
            files.push_back({file.name + "-cut-" + std::to_string(cut), byte_vector(file.bytes.begin(), file.bytes.begin() + long(cut)), false});
        for (int round = 0; round < 6; ++round) {
            byte_vector bytes = file.bytes;
            const size_t at = 2 + next() % (bytes.size() - 2);
            const unsigned bit = next() % 8;
            bytes[at] ^= uint8_t(1u << bit);
            files.push_back({file.name + "-flip-" + std::to_string(at) + "." + std::to_string(bit), bytes, false});
        }
    }
    return files;
}

// Hostile files of the regression corpus, each with why the library's result
// is its own. The system decoder is not run on those refused before decoding:
// they are the files that reach its memory faults.
struct known_difference {
    const char* file;
    const char* why;
};
const known_difference k_regressions[] = {
    {"bmp-54-byte-header-23170-square", "the system decoder fills a 2 GB image from no data"},
    {"bmp-huge-dimensions-size-overflow", "over 2 GB of pixels"},
    {"bmp-rle4-valid", ""},
    {"bmp-negative-palette-size-uninitialised-colours", "the system decoder colours every pixel from its stack"},
    {"bmp-top-down-negative-height", ""},
    {"bmp-top-down-54-byte-header-16384-square", "the system decoder fills a 1 GB image from no data"},
    {"bmp-top-down-8bit-offset-inside-header", "the system decoder colours every pixel from its stack"},
    {"jpeg-dc-overflow-16bit-quantisation", ""},
    {"jpeg-dht-257-codes", "the system decoder writes past its Huffman arrays"},
    {"jpeg-dht-474-codes-after-junk", "the system decoder writes past its Huffman arrays"},
    {"jpeg-fill-bytes-before-soi-dht-overflow", "the system decoder writes past its Huffman arrays"},
    {"jpeg-baseline-16384-square-no-data", "the system decoder fills a 1 GB image from no data"},
    {"jpeg-grey-32768x16384-no-scan", "over 2 GB of pixels"},
    {"jpeg-progressive-23170-square-200-empty-scans", "the system decoder walks 2^29 pixels 201 times"},
    {"jpeg-progressive-refinement-before-first-dc-scan", "the system decoder shows leftover heap"},
    {"jpeg-restart-interval-scan-abandoned", "zeroed: the system decoder shows leftover heap where a scan was abandoned"},
    {"jpeg-scan-with-undefined-huffman-table", "the system decoder reads past its arrays"},
    {"png-16bit-2pow29-pixels", "the system decoder overflows its 16-bit size"},
    {"png-chunk-type-control-bytes", ""},
    {"png-empty-first-idat", ""},
    {"png-palette-indices-past-palette", "zeroed: the system decoder colours indices past the palette from its stack"},
};

class StbIdentity : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef IMGFILTER_SYSTEM_STB
        GTEST_SKIP() << "this build links the system libstb: there is no compiled-in copy to compare";
#endif
        if (!system_stb::get().complete()) FAIL() << "libstb.so.0 (Debian's libstb0) cannot be loaded: " << dlerror();
    }
    scratch_dir dir;
    std::vector<std::string> differences;

    // Compares one file; returns whether both decoded it.
    bool compare(const corpus_file& file, const char* expected_why = nullptr) {
        SCOPED_TRACE(file.name);
        const outcome ours_a = ours(file.bytes, 0xA5);
        const outcome ours_b = ours(file.bytes, 0x5A);
        EXPECT_TRUE(ours_a == ours_b) << "the library's result depends on leftover memory";
        if (const char* refusal = decode_refusal(file.bytes.data(), int(file.bytes.size()))) {
            EXPECT_FALSE(file.valid) << "a valid file refused: " << refusal;
            differences.push_back(file.name + ": refused before decoding (" + refusal + ")" +
                                  (expected_why && *expected_why ? std::string(": ") + expected_why : ""));
            return false;
        }
        const outcome theirs_a = theirs(file.bytes, 0xA5);
        const bool zeroing_row = expected_why && std::strncmp(expected_why, "zeroed", 6) == 0;
        if (ours_a == theirs_a) {
            // Where the system decoder shows leftover memory, that memory may
            // have held zeros this time.
            EXPECT_TRUE(!expected_why || !*expected_why || zeroing_row) << "expected a difference: " << expected_why;
            if (file.valid) {
                EXPECT_TRUE(ours_a.decoded) << ours_a.reason;
            }
            return ours_a.decoded;
        }
        const outcome theirs_b = theirs(file.bytes, 0x5A);
        // Both decoded, and the system's pixels follow what memory held before.
        if (ours_a.decoded && theirs_a.decoded && !(theirs_a == theirs_b) && !file.valid) {
            differences.push_back(file.name + ": zeroed where the system decoder shows leftover memory");
            return true;
        }
        // The sanitizer's allocator fills new blocks itself and does not hand
        // freed ones out again soon, so leftover memory shows its fill byte
        // whatever was freed before: pixel differences of damaged files are
        // named, not judged, there.
        if (k_sanitized && ours_a.decoded && theirs_a.decoded && !file.valid) {
            differences.push_back(file.name + ": pixels differ under the sanitizer's allocator");
            return true;
        }
        // A damaged header that makes the decoder allocate more than the file
        // and its declared image account for (an IDAT length past the file's
        // end): the budget refuses the allocation before the system decoder
        // would find the data missing.
        if (!ours_a.decoded && ours_a.reason == "outofmem" && !theirs_a.decoded && !file.valid) {
            differences.push_back(file.name + ": outofmem from the budget where the system decoder says " + theirs_a.reason);
            return false;
        }
        if (expected_why && *expected_why) {
            differences.push_back(file.name + ": " + expected_why);
            return false;
        }
        ADD_FAILURE() << "ours: " << (ours_a.decoded ? "decoded" : ours_a.reason)
                      << ", system: " << (theirs_a.decoded ? "decoded" : theirs_a.reason)
                      << (ours_a.decoded && theirs_a.decoded ? ", pixels differ" : "");
        return false;
    }

    void report() {
        for (const std::string& line : differences) std::cout << "[ differs  ] " << line << "\n";
        RecordProperty("differences", int(differences.size()));
    }
};

struct byte_collector {
    typedef void (*stream)(void*, void*, int);
    static void collect(void* context, void* data, int size) {
        auto* bytes = static_cast<byte_vector*>(context);
        bytes->insert(bytes->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    }
};

// Every output format, as the pipeline encodes it, against the system's encoder.
void expect_same_encodings(const std::string& name, const test_image& image) {
    const system_stb& stb = system_stb::get();
    const int w = image.width, h = image.height;
    const filter_image pixels{w, h, const_cast<uint8_t*>(image.bytes.data())};
    for (image_format format : {image_format::jpeg, image_format::png, image_format::bmp}) {
        memory_sink ours_encoded;
        byte_vector theirs_encoded;
        EXPECT_TRUE(encode_image(format, pixels, &ours_encoded) && !ours_encoded.failed) << name;
        byte_collector::stream collect = byte_collector::collect;
        const bool written = format == image_format::jpeg ? stb.write_jpg(collect, &theirs_encoded, w, h, 4, pixels.pixels, 92)
                             : format == image_format::png
                                 ? stb.write_png(collect, &theirs_encoded, w, h, 4, pixels.pixels, w * 4)
                                 : stb.write_bmp(collect, &theirs_encoded, w, h, 4, pixels.pixels);
        EXPECT_TRUE(written) << name;
        EXPECT_TRUE(byte_vector(ours_encoded.data.get(), ours_encoded.data.get() + ours_encoded.size) == theirs_encoded)
            << name << ": bytes differ in format " << int(format);
    }
}

}  // namespace

TEST_F(StbIdentity, EveryKindOfFileDecodesAsTheSystemDecodes) {
    const std::vector<corpus_file> valid = valid_files(dir);
    int decoded = 0;
    for (const corpus_file& file : valid) {
        if (!compare(file)) continue;
        ++decoded;
        // The encoders as the pipeline runs them: the same bytes for the same pixels.
        expect_same_encodings(file.name, ours(file.bytes, 0).image);
    }
    EXPECT_EQ(decoded, int(valid.size()));
    report();
}

// Rows wider than the blocks the encoders convert or gather at once.
TEST_F(StbIdentity, WideAndNarrowImagesEncodeAsTheSystemEncodes) {
    for (const auto& [w, h] : {std::pair{1, 1}, {16383, 2}, {16384, 1}, {16385, 3}, {40000, 1}, {1, 300}})
        expect_same_encodings(std::to_string(w) + "x" + std::to_string(h), varied_image(w, h));
}

// Pictures large enough for the PNG compressor's window, runs and full buckets
// to matter: a photograph, and flat colour, repeated tiles and noise side by
// side.
TEST_F(StbIdentity, LargePicturesEncodeAsTheSystemEncodes) {
    const test_image photo = load_image(std::string(IMGFILTER_SAMPLES) + "/rocket.jpg");
    ASSERT_GT(photo.width, 0);
    expect_same_encodings("photograph", photo);
    test_image mixed(640, 400);
    for (int y = 0; y < mixed.height; ++y) {
        for (int x = 0; x < mixed.width; ++x) {
            const unsigned tile = sample_at(x % 24, y % 10, 0), noise = sample_at(x, y, 1);
            mixed.set(x, y, x < 160   ? rgba{200, 10, 10, 255}
                            : x < 400 ? rgba{uint8_t(tile), uint8_t(tile >> 8), uint8_t(x / 3), 255}
                                      : rgba{uint8_t(noise), uint8_t(noise >> 8), uint8_t(y), uint8_t(x)});
        }
    }
    expect_same_encodings("mixed", mixed);
}

TEST_F(StbIdentity, DamagedFilesFailAsTheSystemFails) {
    for (const corpus_file& file : damaged_files(valid_files(dir))) compare(file);
    report();
}

TEST_F(StbIdentity, RegressionFilesDifferOnlyWhereNamed) {
    const std::string root = std::string(IMGFILTER_FUZZ_REGRESSIONS) + "/file/";
    for (const known_difference& known : k_regressions) {
        const byte_vector bytes = read_bytes(root + known.file);
        ASSERT_FALSE(bytes.empty()) << known.file;
        compare({known.file, bytes, false}, known.why);
    }
    EXPECT_EQ(list_dir(root).size(), sizeof k_regressions / sizeof k_regressions[0]) << "a regression file without a row";
    report();
}

// The encoders' vectorised parts in every compiled variant.
class EncoderVariants : public ::testing::TestWithParam<code_path> {};

// The PNG writer's choice of row filter: rows that favour each filter in turn,
// bytes at the extremes where the differences wrap and the Paeth predictor
// meets ties, and widths around every vector length.
TEST_P(EncoderVariants, PngRowFiltersGiveTheSystemWritersBytes) {
    if (GetParam() != code_path::portable && !IMGFILTER_X86_VARIANTS) GTEST_SKIP() << "not compiled in this build";
    if (!code_path_available(GetParam())) GTEST_SKIP() << "not supported by this processor";
    if (!system_stb::get().complete()) FAIL() << "libstb.so.0 (Debian's libstb0) cannot be loaded";
    const uint8_t extremes[] = {0, 1, 127, 128, 129, 254, 255};
    const std::function<uint8_t(int, int, int, uint32_t)> contents[] = {
        [](int x, int, int c, uint32_t) { return uint8_t(x * (c + 1)); },           // sub
        [](int, int y, int c, uint32_t) { return uint8_t(y * 37 + c); },            // up
        [](int x, int y, int, uint32_t) { return uint8_t((x + y) * 9); },           // average, Paeth
        [](int, int, int, uint32_t random) { return uint8_t(random >> 24); },       // none
        [&](int, int, int, uint32_t random) { return extremes[random % 7]; },
        [](int x, int y, int, uint32_t) { return uint8_t((x ^ y) & 1 ? 255 : 0); },
    };
    for (int width : {1, 2, 3, 5, 15, 16, 17, 31, 33, 63, 64, 65, 200}) {
        for (const auto& content : contents) {
            test_image image(width, 4);
            uint32_t random = 7;
            for (int y = 0; y < image.height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        random = random * 1664525u + 1013904223u;
                        image.bytes[(size_t(y) * width + x) * 4 + c] = content(x, y, c, random);
                    }
            const filter_image pixels{width, image.height, image.bytes.data()};
            memory_sink ours_encoded;
            byte_vector theirs;
            ASSERT_TRUE(encode_png_with(pixels, &ours_encoded, GetParam()) && !ours_encoded.failed);
            ASSERT_TRUE(system_stb::get().write_png(byte_collector::collect, &theirs, width, image.height, 4,
                                                     pixels.pixels, width * 4));
            EXPECT_TRUE(byte_vector(ours_encoded.data.get(), ours_encoded.data.get() + ours_encoded.size) == theirs)
                << "width " << width << ", content " << (&content - contents);
        }
    }
}

// The BMP reader's and writer's byte swap in every compiled variant, for every
// count up to past two of the widest vectors, and the alpha bytes it reports.
TEST_P(EncoderVariants, BmpChannelSwapCoversEveryCount) {
    if (GetParam() != code_path::portable && !IMGFILTER_X86_VARIANTS) GTEST_SKIP() << "not compiled in this build";
    if (!code_path_available(GetParam())) GTEST_SKIP() << "not supported by this processor";
    for (long long count = 0; count <= 40; ++count) {
        std::vector<uint8_t> in(size_t(count) * 4), out(in.size() + 4, 0xEE);
        unsigned alpha = 0;
        for (size_t i = 0; i < in.size(); ++i) in[i] = uint8_t(i * 37 + count);
        for (long long p = 0; p < count; ++p) alpha |= in[size_t(p) * 4 + 3];
        EXPECT_EQ(swap_red_and_blue(in.data(), out.data(), count, GetParam()), alpha) << count;
        for (long long p = 0; p < count; ++p) {
            const uint8_t* a = &in[size_t(p) * 4];
            const uint8_t* b = &out[size_t(p) * 4];
            EXPECT_TRUE(b[0] == a[2] && b[1] == a[1] && b[2] == a[0] && b[3] == a[3]) << count << " pixel " << p;
        }
        EXPECT_EQ(out[in.size()], 0xEE) << "written past " << count << " pixels";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, EncoderVariants,
                         ::testing::Values(code_path::portable, code_path::avx2, code_path::avx512),
                         [](const ::testing::TestParamInfo<code_path>& info) {
                             return std::string(info.param == code_path::portable ? "portable"
                                                : info.param == code_path::avx2 ? "avx2"
                                                                                : "avx512");
                         });
