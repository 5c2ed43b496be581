// The checks that keep crafted files away from the decoder's known faults: a
// JPEG Huffman table with more than 256 codes wherever the decoder would read
// it, images whose RGBA block would pass 2 GB, scans that name an undefined
// Huffman table or components dequantised with an undefined table, components
// no complete scan sets (baseline) or refined before their first DC scan
// (progressive), and BMP palette indices past the palette. Valid files,
// progressive JPEGs with tables between their scans among them, must pass
// untouched. The cost guards are in codec_hostile_test.cpp.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "codec_files.h"
#include "decode/decode_guards.h"
#include "imgfilter.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;

void append(bytes* to, const bytes& from) { to->insert(to->end(), from.begin(), from.end()); }

// One Huffman table: class/slot byte, 16 counts, then as many symbol bytes as
// the counts add up to.
bytes huffman_table(uint8_t class_and_slot, const bytes& counts) {
    bytes table;
    table.push_back(class_and_slot);
    for (uint8_t count : counts) table.push_back(count);
    unsigned codes = 0;
    for (uint8_t count : counts) codes += count;
    for (unsigned i = 0; i < codes; ++i) table.push_back(uint8_t(i));
    return table;
}

// 257 codes: 2 of length 15 and 255 of length 16.
bytes counts_257() {
    bytes counts(16, 0);
    counts[14] = 2;
    counts[15] = 255;
    return counts;
}

// 256 codes, the most a table may hold: 1 of length 15 and 255 of length 16.
bytes counts_256() {
    bytes counts(16, 0);
    counts[14] = 1;
    counts[15] = 255;
    return counts;
}

bytes dht_segment(const bytes& tables, unsigned declared_length) {
    bytes segment{0xFF, 0xC4};
    put_be16(&segment, declared_length);
    append(&segment, tables);
    return segment;
}

bytes dht_segment(const bytes& tables) { return dht_segment(tables, unsigned(tables.size()) + 2); }

const bytes k_soi{0xFF, 0xD8};
const bytes k_eoi{0xFF, 0xD9};

bytes jpeg_of(std::initializer_list<bytes> parts) {
    bytes file;
    for (const bytes& part : parts) append(&file, part);
    return file;
}

bool refused_for_dht(const bytes& file) {
    const char* reason = decode_refusal(file.data(), int(file.size()));
    return reason && std::string(reason) == "bad DHT header";
}

// Offset of the last occurrence of a two-byte marker.
size_t last_marker(const bytes& file, uint8_t marker) {
    for (size_t i = file.size() - 1; i > 0; --i)
        if (file[i - 1] == 0xFF && file[i] == marker) return i - 1;
    return std::string::npos;
}

bytes insert_at(bytes file, size_t offset, const bytes& part) {
    file.insert(file.begin() + long(offset), part.begin(), part.end());
    return file;
}

std::string data_file(const char* name) { return std::string(IMGFILTER_TEST_DATA) + "/" + name; }

class DecodeGuards : public pipeline_on_bytes {
protected:
    std::string message() const { return imgfilter_last_error(); }
};

}  // namespace

TEST_F(DecodeGuards, OversizedHuffmanTableIsRefusedBeforeTheDecoder) {
    const bytes file = jpeg_of({k_soi, dht_segment(huffman_table(0x00, counts_257())), k_eoi});
    EXPECT_EQ(run(file), 0);
    EXPECT_EQ(message(), decode_failure("bad DHT header"));
    EXPECT_FALSE(file_exists(dir.path("out.png")));
}

TEST_F(DecodeGuards, HuffmanTableWalkFollowsTheDecoder) {
    EXPECT_FALSE(refused_for_dht(jpeg_of({k_soi, dht_segment(huffman_table(0x00, counts_256())), k_eoi})));
    // Several tables in one segment: the second one overflows.
    bytes two_tables = huffman_table(0x00, counts_256());
    append(&two_tables, huffman_table(0x11, counts_257()));
    EXPECT_TRUE(refused_for_dht(jpeg_of({k_soi, dht_segment(two_tables), k_eoi})));
    // A length one byte too long makes the decoder read a further table from
    // whatever follows the segment.
    bytes one_value(16, 0);
    one_value[0] = 1;
    bytes overlong = dht_segment(huffman_table(0x10, one_value), 2 + 18 + 1);
    append(&overlong, huffman_table(0x01, counts_257()));
    EXPECT_TRUE(refused_for_dht(jpeg_of({k_soi, overlong, k_eoi})));
    // A table with a class the decoder rejects ends its reading of the segment.
    bytes rejected = huffman_table(0x24, bytes(16, 0));
    append(&rejected, huffman_table(0x00, counts_257()));
    EXPECT_FALSE(refused_for_dht(jpeg_of({k_soi, dht_segment(rejected), k_eoi})));
    // Fill bytes before the SOI marker: the decoder still takes the file for a
    // JPEG (the pipeline's signature test does not, but the guard stands alone).
    EXPECT_TRUE(refused_for_dht(jpeg_of({{0xFF, 0xFF}, k_soi, dht_segment(huffman_table(0x00, counts_257()))})));
    // Junk between segments is skipped by the decoder before the first frame.
    EXPECT_TRUE(refused_for_dht(jpeg_of({k_soi, {0x00, 0x12, 0x34}, dht_segment(huffman_table(0x00, counts_257()))})));
    // Nothing after the end of the image is read.
    EXPECT_FALSE(refused_for_dht(jpeg_of({k_soi, k_eoi, dht_segment(huffman_table(0x00, counts_257()))})));
    // Counts cut off by the end of the file read as 0.
    bytes cut = jpeg_of({k_soi, dht_segment(huffman_table(0x00, counts_257()))});
    cut.resize(cut.size() - 257 - 8);
    EXPECT_FALSE(refused_for_dht(cut));
}

// The DHT walk runs before the header query, which would parse the table too.
TEST_F(DecodeGuards, HuffmanTableCheckComesBeforeTheSizeCheck) {
    bytes frame{0xFF, 0xC0, 0, 11, 8};
    put_be16(&frame, 65535);
    put_be16(&frame, 65535);
    append(&frame, {1, 1, 0x11, 0});
    const bytes file = jpeg_of({k_soi, dht_segment(huffman_table(0x00, counts_257())), frame, k_eoi});
    EXPECT_EQ(run(file), 0);
    EXPECT_EQ(message(), decode_failure("bad DHT header"));
}

// Progressive files define tables between scans; the decoder reads those too.
TEST_F(DecodeGuards, HuffmanTablesAfterScanDataAreChecked) {
    const bytes bad = dht_segment(huffman_table(0x11, counts_257()));
    ASSERT_TRUE(write_jpg(dir.path("base.jpg"), test_image(9, 7, {10, 200, 30, 255})));
    const bytes baseline = read_bytes(dir.path("base.jpg"));
    EXPECT_TRUE(refused_for_dht(insert_at(baseline, last_marker(baseline, 0xD9), bad)));
    const bytes progressive = read_bytes(data_file("progressive.jpg"));
    ASSERT_FALSE(progressive.empty());
    EXPECT_EQ(run(insert_at(progressive, last_marker(progressive, 0xDA), bad)), 0);
    EXPECT_EQ(message(), decode_failure("bad DHT header"));
}

// Bytes that look like a table inside an application segment (an embedded
// thumbnail, say) are that segment's payload, never parsed by the decoder.
TEST_F(DecodeGuards, TableLookalikesInsidePayloadsAreNotRefused) {
    ASSERT_TRUE(write_jpg(dir.path("base.jpg"), test_image(9, 7, {10, 200, 30, 255})));
    const bytes baseline = read_bytes(dir.path("base.jpg"));
    const bytes lookalike = jpeg_of({k_soi, dht_segment(huffman_table(0x00, counts_257())), k_eoi});
    bytes app1{0xFF, 0xE1};
    put_be16(&app1, unsigned(lookalike.size()) + 2);
    append(&app1, lookalike);
    EXPECT_EQ(run(insert_at(baseline, 2, app1)), 1) << message();
    EXPECT_EQ(load_image(dir.path("out.png")), load_image(dir.path("base.jpg")));
}

// The decoder does not clear its tables, so a scan that names a table no
// segment defined decodes with leftover heap bytes; as Huffman tables they make
// it read out of bounds.
TEST_F(DecodeGuards, ScansUsingUndefinedTablesAreRefused) {
    ASSERT_TRUE(write_jpg(dir.path("base.jpg"), test_image(9, 7, {10, 200, 30, 255})));
    const bytes baseline = read_bytes(dir.path("base.jpg"));
    const size_t scan = last_marker(baseline, 0xDA);
    const size_t frame = last_marker(baseline, 0xC0);
    ASSERT_NE(scan, std::string::npos);
    ASSERT_NE(frame, std::string::npos);
    EXPECT_EQ(decode_refusal(baseline.data(), int(baseline.size())), nullptr);

    bytes huffman = baseline;
    huffman[scan + 6] = 0x22;  // first component: DC and AC tables in slot 2, never defined
    EXPECT_EQ(run(huffman), 0);
    EXPECT_EQ(message(), decode_failure("undefined table"));
    bytes ac_only = baseline;
    ac_only[scan + 6] = 0x03;
    EXPECT_STREQ(decode_refusal(ac_only.data(), int(ac_only.size())), "undefined table");
    bytes quantisation = baseline;
    quantisation[frame + 12] = 3;  // first component dequantised with table 3, never defined
    EXPECT_EQ(run(quantisation), 0);
    EXPECT_EQ(message(), decode_failure("undefined table"));
    // Luma's tables copied to slot 2: defined before the scan they serve, after
    // it they come too late.
    bytes late = baseline;
    late[scan + 6] = 0x22;
    const size_t segment = last_marker(baseline, 0xC4);
    bytes moved;
    for (size_t i = segment + 4; i < segment + 2 + (baseline[segment + 2] << 8 | baseline[segment + 3]);) {
        unsigned codes = 0;
        for (size_t k = 1; k <= 16; ++k) codes += baseline[i + k];
        if ((baseline[i] & 15) == 0) {
            moved.insert(moved.end(), baseline.begin() + long(i), baseline.begin() + long(i + 17 + codes));
            moved[moved.size() - 17 - codes] |= 2;
        }
        i += 17 + codes;
    }
    const bytes dht = dht_segment(moved);
    EXPECT_STREQ(decode_refusal(late.data(), int(late.size())), "undefined table");
    const bytes after = insert_at(late, last_marker(late, 0xD9), dht);
    EXPECT_STREQ(decode_refusal(after.data(), int(after.size())), "undefined table");
    const bytes early = insert_at(late, scan, dht);
    EXPECT_EQ(decode_refusal(early.data(), int(early.size())), nullptr);
    EXPECT_EQ(run(early), 1) << message();
    EXPECT_EQ(load_image(dir.path("out.png")), load_image(dir.path("base.jpg")));
}

// A paletted BMP with the given palette (BGR entries) and pixel indices, rows
// bottom-up as stored, each row already packed and padded by the caller.
bytes paletted_bmp(int width, int height, uint16_t bits, const std::vector<rgba>& palette, const bytes& rows) {
    bytes file{'B', 'M'};
    const uint32_t data = 14 + 40 + uint32_t(palette.size()) * 4;
    for (uint32_t value : {data + uint32_t(rows.size()), 0u, data, 40u, uint32_t(width), uint32_t(height)})
        put_le(&file, value, 4);
    append(&file, {1, 0, uint8_t(bits), 0});
    for (int i = 0; i < 6; ++i) put_le(&file, 0, 4);
    for (const rgba& colour : palette) append(&file, {colour.b, colour.g, colour.r, 0});
    append(&file, rows);
    return file;
}

// The decoder fills only as many of its 256 palette slots as the file has and
// colours an index beyond them from leftover stack bytes, which would end up
// in the output file.
TEST_F(DecodeGuards, BmpIndicesBeyondThePaletteAreRefused) {
    const std::vector<rgba> two = {{10, 20, 30, 255}, {200, 100, 50, 255}};
    // 8 bits: 3 pixels a row, padded to 4 bytes; 2 rows.
    const bytes in_range = paletted_bmp(3, 2, 8, two, {0, 1, 0, 0, 1, 1, 0, 0});
    EXPECT_EQ(decode_refusal(in_range.data(), int(in_range.size())), nullptr);
    EXPECT_EQ(run(in_range), 1) << message();
    const test_image decoded = load_image(dir.path("out.png"));
    ASSERT_EQ(decoded.width, 3);
    EXPECT_EQ(decoded.at(1, 1), two[1]);
    EXPECT_EQ(decoded.at(0, 0), two[1]);
    EXPECT_EQ(decoded.at(2, 1), two[0]);

    // A pixel-data offset inside the header makes the palette's size negative.
    bytes negative = paletted_bmp(3, 1, 8, two, {0, 0, 0, 0});
    negative[10] = 4;
    negative[11] = negative[12] = negative[13] = 0;
    struct palette_case {
        const char* name;
        bytes file;
    } refused[] = {
        {"8 bits, index 2 of 2", paletted_bmp(3, 2, 8, two, {0, 1, 0, 0, 1, 2, 0, 0})},
        {"4 bits, index 7 in the low nibble", paletted_bmp(2, 1, 4, two, {0x07, 0, 0, 0})},
        {"1 bit, index 1 of 1", paletted_bmp(9, 1, 1, {two[0]}, {0x00, 0x80, 0, 0})},
        {"negative palette size", negative},
    };
    for (const palette_case& c : refused) {
        EXPECT_EQ(run(c.file), 0) << c.name;
        EXPECT_EQ(message(), decode_failure("bad palette index")) << c.name;
    }
    // Padding bytes and the unused low nibble of an odd row are never indices.
    const bytes padding = paletted_bmp(3, 1, 8, two, {1, 0, 1, 0xEE});
    EXPECT_EQ(decode_refusal(padding.data(), int(padding.size())), nullptr);
    const bytes nibble = paletted_bmp(1, 1, 4, two, {0x1F, 0xEE, 0xEE, 0xEE});
    EXPECT_EQ(decode_refusal(nibble.data(), int(nibble.size())), nullptr);
}

// Offset of the first marker at or after `from` that ends entropy-coded data.
size_t next_marker(const bytes& file, size_t from) {
    for (size_t i = from; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] != 0x00 && file[i + 1] != 0xFF && (file[i + 1] & 0xF8) != 0xD0) return i;
    return file.size();
}

// Coefficient and sample buffers are not cleared by the decoder: a component
// that no scan sets in full would show leftover heap bytes.
TEST_F(DecodeGuards, ComponentsWithoutACompleteScanAreRefused) {
    ASSERT_TRUE(write_jpg(dir.path("base.jpg"), test_image(9, 7, {10, 200, 30, 255})));
    bytes baseline = read_bytes(dir.path("base.jpg"));
    const size_t scan = last_marker(baseline, 0xDA);
    ASSERT_EQ(baseline[scan + 4], 3);  // one interleaved scan of Y, Cb, Cr
    baseline[scan + 9] = baseline[scan + 7];  // Cr's place names Cb again: Cr is never decoded
    EXPECT_EQ(run(baseline), 0);
    EXPECT_EQ(message(), decode_failure("missing scan"));

    // A progressive file without its first scan (the DC scan of every
    // component) refines coefficients nothing has set.
    const bytes progressive = read_bytes(data_file("progressive.jpg"));
    ASSERT_FALSE(progressive.empty());
    size_t first_scan = 0;
    while (!(progressive[first_scan] == 0xFF && progressive[first_scan + 1] == 0xDA)) ++first_scan;
    const size_t scan_end = next_marker(progressive, first_scan + 2 + (progressive[first_scan + 2] << 8 | progressive[first_scan + 3]));
    bytes without_dc(progressive.begin(), progressive.begin() + long(first_scan));
    without_dc.insert(without_dc.end(), progressive.begin() + long(scan_end), progressive.end());
    EXPECT_EQ(run(without_dc), 0);
    EXPECT_EQ(message(), decode_failure("missing scan"));
}

TEST_F(DecodeGuards, ValidProgressiveJpegsStillDecode) {
    for (const char* name : {"progressive.jpg", "progressive_restart.jpg"}) {
        const bytes file = read_bytes(data_file(name));
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_EQ(decode_refusal(file.data(), int(file.size())), nullptr) << name;
        EXPECT_EQ(run(file), 1) << name << ": " << message();
        const test_image decoded = load_image(data_file(name));
        EXPECT_EQ(decoded.width, 23);
        EXPECT_EQ(load_image(dir.path("out.png")), decoded) << name;
    }
}

// Width x height x 4 above 2,147,483,647 is refused from the header alone. The
// first row is the decoder's 16-bit PNG fault: 2^29 pixels wrap its size. The
// decoder refuses some large headers by itself, with the same reason.
TEST_F(DecodeGuards, ImagesBeyondTwoGigabytesAreRefused) {
    struct size_case {
        const char* name;
        bytes file;
        bool refused;
    } cases[] = {
        {"16-bit grey PNG 32768x16384", png_header(32768, 16384, 16, 0), true},
        {"8-bit grey PNG 65536x8192", png_header(65536, 8192, 8, 0), true},
        {"8-bit RGBA PNG 16384x32768", png_header(16384, 32768, 8, 6), true},
        {"BMP 65536x8192", bmp_header(65536, 8192), true},
        {"top-down BMP 65536x8192", bmp_header(65536, -8192), true},
        {"16-bit grey PNG 16384x32767", png_header(16384, 32767, 16, 0), false},
    };
    for (const size_case& c : cases) {
        EXPECT_EQ(run(c.file), 0) << c.name;
        EXPECT_EQ(message() == decode_failure("too large"), c.refused) << c.name << ": " << message();
    }
    // These two the guard refuses itself: the decoder would go on to its fault
    // with the first, and reports the second's height negative.
    for (const bytes& file : {png_header(32768, 16384, 16, 0), bmp_header(65536, -8192)})
        EXPECT_STREQ(decode_refusal(file.data(), int(file.size())), "too large");
    // Header dimensions near 2^31 each: the size test itself must not overflow.
    for (const bytes& file : {bmp_header(INT_MAX, INT_MAX), bmp_header(INT_MAX, -INT_MAX)})
        EXPECT_STREQ(decode_refusal(file.data(), int(file.size())), "too large");
    EXPECT_FALSE(file_exists(dir.path("out.png")));
}
