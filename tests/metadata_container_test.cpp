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
    // A chunk whose checksum does not match is not believed.
    std::string damaged = png;
    damaged[png.find("eXIf") + 6] ^= 1;
    EXPECT_EQ(read_png_metadata(damaged).exif, "");
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
    for (const auto& c : cases) EXPECT_EQ(read_jpeg_metadata(with_jpeg_segments(k_jpeg, c.segments)).icc, "") << c.what;
}

TEST(MetadataContainers, TruncatedOrForeignFilesGiveNothing) {
    EXPECT_TRUE(read_jpeg_metadata("").empty());
    EXPECT_TRUE(read_jpeg_metadata(std::string("\xFF\xD8\xFF\xE1\xFF\xFF", 6) + "Exif").empty());
    EXPECT_TRUE(read_png_metadata(tiny_png().substr(0, 20)).empty());
    EXPECT_EQ(add_jpeg_metadata("not a jpeg", {}), "");
    EXPECT_EQ(add_png_metadata("not a png", {}), "");
}

TEST(MetadataContainers, AProfileThatInflatesBeyondAnyRealOneIsDropped) {
    const std::string zeros(20u << 20, '\0');
    uLongf size = compressBound(uLong(zeros.size()));
    std::string bomb(size, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(&bomb[0]), &size, reinterpret_cast<const Bytef*>(zeros.data()),
                        uLong(zeros.size()), 9),
              Z_OK);
    bomb.resize(size);
    EXPECT_LT(bomb.size(), 100000u);
    const std::string png = with_png_chunks(tiny_png(), {{"iCCP", std::string("p\0\0", 3) + bomb}});
    EXPECT_EQ(read_png_metadata(png).icc, "");
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
