// The PNG compressor against stb_image_write's own, compiled into this file
// alone (static, so nothing of it meets the system copy that the tests write
// their input files with): the same bytes for
// every kind of data, at the writer's quality and around it, stored form
// included.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "encode/png_deflate.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;

struct deflate_input {
    std::string name;
    bytes data;
};

struct random_bytes {
    uint32_t state;
    uint8_t operator()() { return uint8_t((state = state * 1664525u + 1013904223u) >> 24); }
    bytes take(std::size_t count) {
        bytes out(count);
        for (uint8_t& b : out) b = (*this)();
        return out;
    }
};

// What the PNG writer hands its compressor for a photograph: the filtered rows,
// taken back out of the reference writer's own file.
bytes photo_rows() {
    const test_image photo = load_image(std::string(IMGFILTER_SAMPLES) + "/rocket.jpg");
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(photo.bytes.data(), photo.width * 4, photo.width, photo.height, 4, &length);
    bytes idat;
    for (int at = 8; png && at + 12 <= length;) {
        const uint32_t chunk = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        if (std::memcmp(png + at + 4, "IDAT", 4) == 0) idat.insert(idat.end(), png + at + 8, png + at + 8 + chunk);
        at += 12 + int(chunk);
    }
    STBIW_FREE(png);
    bytes rows(std::size_t(photo.width * 4 + 1) * std::size_t(photo.height));
    uLongf size = uLongf(rows.size());
    if (rows.empty() || uncompress(rows.data(), &size, idat.data(), uLong(idat.size())) != Z_OK || size != rows.size())
        return {};
    return rows;
}

std::vector<deflate_input> inputs() {
    std::vector<deflate_input> all;
    random_bytes random{20261209};
    const std::string abc = "abcabcab";
    for (std::size_t n = 0; n <= 8; ++n) {
        all.push_back({"zeros-" + std::to_string(n), bytes(n, 0)});
        all.push_back({"abc-" + std::to_string(n), bytes(abc.begin(), abc.begin() + long(n))});
    }
    for (std::size_t n : {1000, 32767, 32768, 100000}) all.push_back({"random-" + std::to_string(n), random.take(n)});
    all.push_back({"run-300000", bytes(300000, 0xA7)});
    // Every match length, from periods short and long.
    for (std::size_t period = 1; period <= 300; ++period) {
        const bytes unit = random.take(period);
        bytes data;
        while (data.size() < 4096) data.insert(data.end(), unit.begin(), unit.end());
        all.push_back({"period-" + std::to_string(period), data});
    }
    // A copy at each distance around the window's end.
    for (std::size_t distance : {32766, 32767, 32768, 32769}) {
        bytes data = random.take(distance);
        data.insert(data.end(), data.begin(), data.begin() + 1000);
        all.push_back({"distance-" + std::to_string(distance), data});
    }
    // Copies of every length from every distance class, out of reach too,
    // between literals: more than 64 KiB.
    bytes copies = random.take(64);
    while (copies.size() < 300000) {
        const std::size_t length = 3 + random() % 256, distance = 1 + (std::size_t(random()) << 8 | random()) % 34000;
        if (distance > copies.size() || random() % 4 == 0) {
            copies.push_back(random());
            continue;
        }
        for (std::size_t k = 0; k < length; ++k) copies.push_back(copies[copies.size() - distance]);
    }
    all.push_back({"copies", copies});
    // Longer than the megabyte the compressor reads ahead at a time, with
    // matches across each refill: the copies twelve times over; and random
    // data that long, whose compressed form is given up for the stored one.
    bytes long_copies;
    for (int round = 0; round < 12; ++round) long_copies.insert(long_copies.end(), copies.begin(), copies.end());
    all.push_back({"copies-3.6-MB", long_copies});
    all.push_back({"random-2500000", random.take(2500000)});
    const char* const words[] = {"the ", "filter ", "image ", "of ", "a ", "pixel ", "row\n", "and ", "blur ", "edge, "};
    std::string text;
    while (text.size() < 200000) text += words[random() % 10];
    all.push_back({"text", bytes(text.begin(), text.end())});
    all.push_back({"photo-rows", photo_rows()});
    return all;
}

bytes reference(bytes data, int quality) {
    int length = 0;
    unsigned char* out = stbi_zlib_compress(data.data(), int(data.size()), &length, quality);
    bytes result(out, out + length);
    STBIW_FREE(out);
    return result;
}

bytes ours(const bytes& data, int quality) {
    int length = -1;
    const heap_ptr<unsigned char> out = png_deflate(data.data(), int(data.size()), quality, &length);
    if (!out) return {};
    return bytes(out.get(), out.get() + length);
}

class PngDeflate : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(PngDeflate, SameBytesAsStbImageWrite) {
    for (const deflate_input& input : inputs()) {
        SCOPED_TRACE(input.name);
        ASSERT_FALSE(input.name == "photo-rows" && input.data.empty()) << "the photograph's rows could not be had";
        const bytes expected = reference(input.data, GetParam());
        EXPECT_TRUE(ours(input.data, GetParam()) == expected);
        // Random data takes the stored form: header, 5 bytes a block, Adler-32.
        if (input.name.rfind("random-", 0) == 0) {
            EXPECT_EQ(expected.size(), 2 + input.data.size() + 5 * ((input.data.size() + 32766) / 32767) + 4);
        }
    }
}

// Below 5 the writer's quality counts as 5.
INSTANTIATE_TEST_SUITE_P(Qualities, PngDeflate, ::testing::Values(1, 5, 8, 16));

TEST(PngDeflateContract, NegativeLengthIsRefused) {
    int length = -1;
    const unsigned char data[4] = {};
    EXPECT_EQ(png_deflate(data, -1, 8, &length), nullptr);
}
