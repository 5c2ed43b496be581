// Reading and writing metadata in JPEG and PNG containers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

#include "exif_sample.h"
#include "metadata_jpeg.h"
#include "metadata_png.h"

namespace {

// The smallest files the writers accept: what the library's encoders begin with.
const std::string k_jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
                           std::string("\xFF\xD9", 2);
std::string tiny_png() {
    const std::string ihdr = std::string("\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00\x00", 13);
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\x00\x00\x00\x0dIHDR", 8) + ihdr +
                      std::string(4, '\0') + std::string("\x00\x00\x00\x00IEND\xae\x42\x60\x82", 12);
    return png;
}

std::string compressed(const std::string& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                  uLong(data.size()), 9) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// An iCCP chunk's data: a name, a zero, the compression method, the stream.
std::string iccp(const std::string& stream) { return std::string("p\0\0", 3) + stream; }

// A stream inflating to just past what any real profile takes.
const std::string& profile_bomb() {
    static const std::string bomb = compressed(std::string(k_metadata_limit + 1, '\0'));
    return bomb;
}

}  // namespace

TEST(MetadataContainers, JpegRoundTripSplitsLargeProfiles) {
    for (std::size_t size : {200u, 65519u, 65520u, 300000u}) {
        const image_metadata in{phone_exif(), sample_icc_profile(size)};
        const std::string jpeg = add_jpeg_metadata(k_jpeg, in);
        const image_metadata out = read_jpeg_metadata(jpeg);
        EXPECT_EQ(out.exif, in.exif) << size;
        EXPECT_EQ(out.icc, in.icc) << size;
        EXPECT_EQ(jpeg.substr(0, 20), k_jpeg.substr(0, 20));  // the JFIF segment stays first
        for (const std::string& segment : jpeg_segments(jpeg, 0xE2)) EXPECT_LE(segment.size(), 65533u);
    }
}

TEST(MetadataContainers, PngRoundTripWithChecksums) {
    const image_metadata in{phone_exif(false), sample_icc_profile(5000)};
    const std::string png = add_png_metadata(tiny_png(), in);
    const image_metadata out = read_png_metadata(png);
    EXPECT_EQ(out.exif, in.exif);
    EXPECT_EQ(out.icc, in.icc);
    EXPECT_FALSE(out.exif_unreadable || out.icc_unreadable);
    // A chunk whose checksum does not match is not believed.
    std::string damaged = png;
    damaged[png.find("eXIf") + 6] ^= 1;
    EXPECT_EQ(read_png_metadata(damaged).exif, "");
    EXPECT_TRUE(read_png_metadata(damaged).exif_unreadable);
}

TEST(MetadataContainers, BrokenIccPiecesAreIgnored) {
    const std::string piece = std::string("ICC_PROFILE\0", 12);
    const struct {
        const char* what;
        std::vector<std::pair<unsigned, std::string>> segments;
    } cases[] = {
        {"a piece missing", {{0xE2, piece + "\x01\x02" + "first"}}},
        {"sequence 0", {{0xE2, piece + std::string("\x00\x01", 2) + "x"}}},
        {"counts disagree", {{0xE2, piece + "\x01\x02" + "a"}, {0xE2, piece + "\x02\x03" + "b"}}},
        {"a piece twice", {{0xE2, piece + "\x01\x02" + "a"}, {0xE2, piece + "\x01\x02" + "a"}}},
    };
    for (const auto& c : cases) {
        const image_metadata found = read_jpeg_metadata(with_jpeg_segments(k_jpeg, c.segments));
        EXPECT_EQ(found.icc, "") << c.what;
        EXPECT_TRUE(found.icc_unreadable) << c.what;
    }
}

TEST(MetadataContainers, TruncatedOrForeignFilesGiveNothing) {
    EXPECT_TRUE(read_jpeg_metadata("").empty());
    EXPECT_TRUE(read_jpeg_metadata(std::string("\xFF\xD8\xFF\xE1\xFF\xFF", 6) + "Exif").empty());
    EXPECT_TRUE(read_png_metadata(tiny_png().substr(0, 20)).empty());
    EXPECT_EQ(add_jpeg_metadata("not a jpeg", {}), "");
    EXPECT_EQ(add_png_metadata("not a png", {}), "");
}

// A file has one iCCP chunk at most: only the first is inflated, whatever
// comes of it, so repeating a bomb costs no more than one.
TEST(MetadataContainers, OnlyTheFirstPngProfileIsRead) {
    const std::string first = sample_icc_profile(300), second = sample_icc_profile(400);
    EXPECT_LT(profile_bomb().size(), 100000u);
    const struct {
        const char* what;
        std::string first_chunk;
        std::string found;
    } cases[] = {
        {"a valid profile", iccp(compressed(first)), first},
        {"one that inflates beyond any real profile", iccp(profile_bomb()), ""},
        {"one that does not inflate", iccp("not a zlib stream"), ""},
        {"one without a name", std::string("\0\0", 2) + compressed(first), ""},
    };
    for (const auto& c : cases) {
        const std::string png = with_png_chunks(
            tiny_png(), {{"iCCP", c.first_chunk}, {"iCCP", iccp(compressed(second))}, {"iCCP", iccp(profile_bomb())}});
        const image_metadata found = read_png_metadata(png);
        EXPECT_EQ(found.icc, c.found) << c.what;
        EXPECT_EQ(found.icc_unreadable, c.found.empty()) << c.what;
    }
}

TEST(MetadataContainers, MutatedContainersAreReadWithoutHarm) {
    const std::string jpeg = add_jpeg_metadata(k_jpeg, {phone_exif(), sample_icc_profile(70000)});
    const std::string png = add_png_metadata(tiny_png(), {phone_exif(), sample_icc_profile(3000)});
    uint32_t state = 777;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 2000; ++round) {
        for (const std::string* file : {&jpeg, &png}) {
            std::string damaged = *file;
            // Most of the damage in the headers, where the lengths are.
            for (int hits = 1 + next() % 3; hits > 0; --hits)
                damaged[next() % std::min<std::size_t>(damaged.size(), 200)] = static_cast<char>(next() >> 24);
            if (next() % 4 == 0) damaged.resize(next() % damaged.size());
            const image_metadata found = file == &jpeg ? read_jpeg_metadata(damaged) : read_png_metadata(damaged);
            EXPECT_LE(found.icc.size(), k_metadata_limit);
            EXPECT_LE(found.exif.size(), k_metadata_limit);
        }
    }
}
