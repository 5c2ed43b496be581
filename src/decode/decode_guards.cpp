#include "decode/decode_guards.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decode/decode_limits.h"
#include "stb_image.h"

namespace {

// The decoder reads 0 for every byte past the end of the file; so does the walk.
struct jpeg_bytes {
    const unsigned char* data;
    std::size_t length;

    unsigned at(std::size_t offset) const { return offset < length ? data[offset] : 0u; }
    unsigned be16(std::size_t offset) const { return at(offset) << 8 | at(offset + 1); }
};

// What the walk has seen defined so far. The decoder allocates its tables
// without clearing them and decodes a scan with whatever table its header
// names, defined or not: an undefined Huffman table makes it index its arrays
// with leftover heap bytes (an out-of-bounds read that crashes), an undefined
// quantisation table multiplies by them.
struct jpeg_tables {
    bool huffman[2][4] = {};  // [class: 0 DC, 1 AC][slot]
    bool quantisation[4] = {};
    bool frame_seen = false;
    bool progressive = false;
    int components = 0;
    unsigned component_id[4] = {};
    unsigned component_quantisation[4] = {};
    unsigned horizontal_sampling[4] = {};
    unsigned vertical_sampling[4] = {};
    // Whether a scan has set every coefficient of the component: any scan in a
    // baseline frame, the first DC scan in a progressive one.
    bool component_initialised[4] = {};
    unsigned long long width = 0;
    unsigned long long height = 0;
    unsigned long long scans = 0;
    // Sequential frames: the blocks the scans so far code, and the bytes of
    // entropy-coded data they hold.
    unsigned long long scan_blocks = 0;
    unsigned long long coded_bytes = 0;
};

enum class jpeg_fault { none, oversized_huffman_table, undefined_table, missing_scan, too_many_scans, truncated };

// The decoder walks every block of a progressive frame's components once per
// scan, even a scan that codes nothing (an end-of-band run skips the bits, not
// the walk), and reads zeros once the file's data runs out: a 2 KB file that
// declares 23170 x 23170 pixels and 200 empty scans takes 40 s. Scans times
// pixels is bounded by this amount of work, which lets an image of the largest
// size the library takes (2^29 pixels) have 64 scans, and a 12-megapixel one
// more than 2,800, where ordinary progressive files have about 10.
constexpr unsigned long long k_progressive_scan_work = 1ull << 35;

// A sequential (baseline or extended) scan decodes every block of its
// components, and once its data runs out it goes on reading zero bits: a
// 609-byte file that declares 16384 x 16384 pixels and holds no data makes it
// fill a 1 GB image. Every block is coded in at least two bits, a DC
// difference code and an end-of-block code, each at least one bit long
// (restart markers, stuffed bytes and byte alignment only add to that), so a
// complete file holds at least blocks / 4 bytes of data. A file whose data is
// short of an eighth of that was cut or forged; it is refused as truncated.
// Photographs code 50 to 100 times the least, flat images a few times it, so a
// photograph cut in half, or even to a few percent, still decodes as before.
constexpr unsigned long long k_fewest_bits_per_block = 2;
constexpr unsigned long long k_sequential_data_margin = 8;
// Below this many blocks (a 512 x 512 grey image) the decoder's work is small
// whatever the data holds, and the file is left to it.
constexpr unsigned long long k_blocks_decoded_regardless = 4096;

// stb_image builds each Huffman table into arrays of 256 symbols without
// checking the counts, so a table that declares more than 256 codes writes past
// them. The tables are read as the decoder reads them: one after another while
// the segment's length has bytes left, even beyond the declared end, until one
// has a class or slot the decoder rejects.
jpeg_fault read_dht(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned class_and_slot = file.at(table);
        if ((class_and_slot >> 4) > 1 || (class_and_slot & 15) > 3) break;  // the decoder stops with an error here
        unsigned codes = 0;
        for (std::size_t i = 1; i <= 16; ++i) codes += file.at(table + i);
        if (codes > 256) return jpeg_fault::oversized_huffman_table;
        tables->huffman[class_and_slot >> 4][class_and_slot & 15] = true;
        table += 17 + codes;
        remaining -= static_cast<long>(17 + codes);
    }
    return jpeg_fault::none;
}

void read_dqt(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned precision_and_slot = file.at(table);
        if ((precision_and_slot >> 4) > 1 || (precision_and_slot & 15) > 3) break;
        tables->quantisation[precision_and_slot & 15] = true;
        const unsigned size = (precision_and_slot >> 4) ? 129 : 65;  // 16- or 8-bit entries
        table += size;
        remaining -= static_cast<long>(size);
    }
}

// Only the first frame header counts: the decoder reads no other.
void read_sof(const jpeg_bytes& file, std::size_t length_field, unsigned marker, jpeg_tables* tables) {
    if (tables->frame_seen) return;
    tables->frame_seen = true;
    tables->progressive = marker == 0xC2;
    tables->height = file.be16(length_field + 3);
    tables->width = file.be16(length_field + 5);
    const unsigned count = file.at(length_field + 7);
    tables->components = count > 4 ? 4 : static_cast<int>(count);
    for (int i = 0; i < tables->components; ++i) {
        const std::size_t component = length_field + 8 + 3 * static_cast<std::size_t>(i);
        tables->component_id[i] = file.at(component);
        tables->horizontal_sampling[i] = file.at(component + 1) >> 4;
        tables->vertical_sampling[i] = file.at(component + 1) & 15;
        tables->component_quantisation[i] = file.at(component + 2);
    }
}

// The blocks a scan of the component alone decodes: its samples (the image
// scaled by its sampling factors against the largest) in 8 x 8 blocks. A scan
// of several components decodes whole MCUs, at least as many blocks. Factors
// the decoder refuses count none.
unsigned long long component_blocks(const jpeg_tables& tables, int c) {
    unsigned h_max = 0, v_max = 0;
    for (int i = 0; i < tables.components; ++i) {
        const unsigned h = tables.horizontal_sampling[i];
        const unsigned v = tables.vertical_sampling[i];
        if (h < 1 || h > 4 || v < 1 || v > 4) return 0;
        h_max = std::max(h_max, h);
        v_max = std::max(v_max, v);
    }
    const unsigned long long samples_x = (tables.width * tables.horizontal_sampling[c] + h_max - 1) / h_max;
    const unsigned long long samples_y = (tables.height * tables.vertical_sampling[c] + v_max - 1) / v_max;
    return ((samples_x + 7) / 8) * ((samples_y + 7) / 8);
}

// A scan decodes its components with the tables its header names: baseline
// scans a DC and an AC table, progressive first DC scans a DC table, DC
// refinements none, AC scans an AC table; every component dequantises with its
// frame table. Selectors the decoder rejects are left to it.
//
// The decoder's coefficient and sample buffers are not cleared either: only a
// baseline scan or a progressive first DC scan sets a component's every
// coefficient. A progressive scan that refines a component before that, like a
// component no scan ever visits, would carry leftover heap bytes into the image.
jpeg_fault check_scan(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    const unsigned count = file.at(length_field + 2);
    const std::size_t after = length_field + 3 + 2 * static_cast<std::size_t>(count);
    const unsigned spectral_start = file.at(after);
    const unsigned approximation_high = file.at(after + 2) >> 4;
    const bool first_dc = spectral_start == 0 && approximation_high == 0;
    const bool uses_dc = !tables->progressive || first_dc;
    const bool uses_ac = !tables->progressive || spectral_start != 0;
    for (unsigned i = 0; i < count && i < 4; ++i) {
        const unsigned id = file.at(length_field + 3 + 2 * i);
        const unsigned dc = file.at(length_field + 4 + 2 * i) >> 4;
        const unsigned ac = file.at(length_field + 4 + 2 * i) & 15;
        for (int c = 0; c < tables->components; ++c) {
            if (tables->component_id[c] != id) continue;
            const unsigned quantisation = tables->component_quantisation[c];
            if (quantisation <= 3 && !tables->quantisation[quantisation]) return jpeg_fault::undefined_table;
            if (uses_dc && dc <= 3 && !tables->huffman[0][dc]) return jpeg_fault::undefined_table;
            if (uses_ac && ac <= 3 && !tables->huffman[1][ac]) return jpeg_fault::undefined_table;
            if (!tables->progressive) tables->scan_blocks += component_blocks(*tables, c);
            if (!tables->progressive || first_dc) tables->component_initialised[c] = true;
            if (!tables->component_initialised[c]) return jpeg_fault::missing_scan;
            break;
        }
    }
    return jpeg_fault::none;
}

// The decoder succeeds only at the end-of-image marker, and then builds the
// image from every component of the frame.
jpeg_fault check_image_end(const jpeg_tables& tables) {
    for (int c = 0; c < tables.components; ++c)
        if (!tables.component_initialised[c]) return jpeg_fault::missing_scan;
    return jpeg_fault::none;
}

bool is_restart(unsigned marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Entropy-coded data runs up to the first marker that is neither a stuffed
// zero nor a restart. The decoder never reads beyond that marker, and wherever
// it stops inside the data, the next marker it takes is that one or it fails.
std::size_t skip_entropy_coded_data(const jpeg_bytes& file, std::size_t offset) {
    while (offset < file.length) {
        if (file.data[offset] != 0xFF) {
            ++offset;
            continue;
        }
        std::size_t next = offset + 1;
        while (next < file.length && file.data[next] == 0xFF) ++next;  // fill bytes
        if (next < file.length && (file.data[next] == 0x00 || is_restart(file.data[next]))) {
            offset = next + 1;
            continue;
        }
        return offset;
    }
    return offset;
}

// Refuses a progressive frame whose scans would take more than the work bound.
jpeg_fault check_scan_work(const jpeg_tables& tables) {
    if (!tables.progressive) return jpeg_fault::none;
    const unsigned long long pixels = tables.width * tables.height;
    return pixels > 0 && tables.scans > k_progressive_scan_work / pixels ? jpeg_fault::too_many_scans : jpeg_fault::none;
}

// Refuses a sequential frame whose scans hold too little data for their blocks.
jpeg_fault check_scan_data(const jpeg_tables& tables) {
    if (tables.progressive || tables.scan_blocks <= k_blocks_decoded_regardless) return jpeg_fault::none;
    const unsigned long long fewest_bits = tables.scan_blocks * k_fewest_bits_per_block;
    return tables.coded_bytes * 8 * k_sequential_data_margin < fewest_bits ? jpeg_fault::truncated : jpeg_fault::none;
}

// Visits every segment that the decoder could parse, also those between and
// after scans (progressive files carry tables there), and is generous where the
// decoder is strict: junk between segments is skipped and markers without a
// length are passed over, so no table the decoder reaches is missed and none
// it defines goes unseen. An oversized Huffman table is reported at once; the
// first other fault is kept while the walk goes on to look for one, since a
// table that overflows the decoder's arrays comes before every other reason.
// The decoder also ends without an end-of-image marker, at the end of its data.
jpeg_fault find_jpeg_fault(const jpeg_bytes& file, std::size_t offset) {
    jpeg_tables tables;
    jpeg_fault first = jpeg_fault::none;
    const auto keep = [&first](jpeg_fault fault) {
        if (first == jpeg_fault::none) first = fault;
    };
    for (;;) {
        while (offset < file.length && file.data[offset] != 0xFF) ++offset;
        while (offset < file.length && file.data[offset] == 0xFF) ++offset;
        if (offset >= file.length) break;
        const unsigned marker = file.data[offset++];
        if (marker == 0xD9) {  // the decoder stops reading here
            keep(check_image_end(tables));
            break;
        }
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || is_restart(marker)) continue;
        const unsigned segment_length = file.be16(offset);
        if (segment_length < 2) break;  // every such segment stops the decoder with an error
        if (marker == 0xC4) {
            const jpeg_fault fault = read_dht(file, offset, &tables);
            if (fault != jpeg_fault::none) return fault;
        } else if (marker == 0xDB) {
            read_dqt(file, offset, &tables);
        } else if (marker >= 0xC0 && marker <= 0xC2) {
            read_sof(file, offset, marker, &tables);
        } else if (marker == 0xDA) {
            ++tables.scans;
            keep(check_scan(file, offset, &tables));
        }
        offset += segment_length;
        if (marker == 0xDA) {
            const std::size_t data = std::min(offset, file.length);
            offset = skip_entropy_coded_data(file, data);
            tables.coded_bytes += offset - data;
        }
    }
    keep(check_scan_work(tables));
    keep(check_scan_data(tables));
    return first;
}

// A BMP's layout as the decoder reads it, for headers it accepts; guards look
// at no other, so a file the decoder refuses keeps the decoder's own reason.
struct bmp_layout {
    long long width;
    long long height;  // rows, whichever way they run
    unsigned bits;
    long long colours;      // palette entries the decoder reads (negative: none)
    long long pixel_start;  // where it starts reading pixels; the file's length when past its end
    long long row_bytes;
    long long stride;       // row_bytes and the padding to 4 bytes
};

// The decoder reads 0 for every byte past the end of the file; so do these.
struct bmp_bytes {
    const unsigned char* data;
    long long length;

    unsigned at(long long offset) const { return offset < length ? data[offset] : 0u; }
    unsigned le16(long long offset) const { return at(offset) | at(offset + 1) << 8; }
    uint32_t le32(long long offset) const {
        return static_cast<uint32_t>(le16(offset)) | static_cast<uint32_t>(le16(offset + 2)) << 16;
    }
};

unsigned bit_count(uint32_t mask) {
    unsigned count = 0;
    for (; mask; mask &= mask - 1) ++count;
    return count;
}

// The decoder's header checks, in its order: offset, header size, planes,
// compression (RLE and the JPEG/PNG modes refused, bitfields only with 16 or 32
// bits), dimensions, palette size and offset, bit count, colour masks.
bool read_bmp_layout(const bmp_bytes& file, bmp_layout* layout) {
    const long long offset = static_cast<int32_t>(file.le32(10));
    const long long header = static_cast<int32_t>(file.le32(14));
    if (offset < 0) return false;
    if (header != 12 && header != 40 && header != 56 && header != 108 && header != 124) return false;
    const bool core = header == 12;
    // Each operand is widened on its own: a conditional that mixed the core
    // header's unsigned 16 bits with the signed 32 of the others would make a
    // top-down height (stored negative) a huge unsigned one.
    const long long width = core ? static_cast<long long>(file.le16(18)) : static_cast<long long>(file.le32(18));
    const long long stored_height =
        core ? static_cast<long long>(file.le16(20)) : static_cast<long long>(static_cast<int32_t>(file.le32(22)));
    const long long planes_at = core ? 22 : 26;
    if (file.le16(planes_at) != 1) return false;
    const unsigned bits = file.le16(planes_at + 2);
    const uint32_t compression = core ? 0 : file.le32(30);
    if (compression == 1 || compression == 2 || compression >= 4) return false;
    if (compression == 3 && bits != 16 && bits != 32) return false;
    // Masks: as bitfields after a 40- or 56-byte header (which then ends 12
    // bytes later), always from a V4 or V5 header, where compression 0 puts the
    // defaults in place of red, green and blue (and of alpha at 32 bits).
    long long header_end = 14 + header;
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    if (header >= 108) {
        red = file.le32(54);
        green = file.le32(58);
        blue = file.le32(62);
        alpha = file.le32(66);
    } else if (compression == 3) {
        red = file.le32(header_end);
        green = file.le32(header_end + 4);
        blue = file.le32(header_end + 8);
        header_end += 12;
        if (red == green && green == blue) return false;
    }
    if (compression == 0 && !core) {
        if (bits == 16) {
            red = 31u << 10;
            green = 31u << 5;
            blue = 31u;
        } else if (bits == 32) {
            red = 0xFFu << 16;
            green = 0xFFu << 8;
            blue = 0xFFu;
            alpha = 0xFFu << 24;
        } else {
            red = green = blue = alpha = 0;
        }
    }
    const long long height = std::llabs(stored_height);
    if (width > k_max_side || height > k_max_side) return false;
    const long long entry = core ? 3 : 4;
    long long colours = 0;
    if (core ? bits < 24 : bits < 16) colours = core ? (offset - 14 - 24) / 3 : (offset - 14 - header) >> 2;
    // The decoder compares the offset with where its reading of the header
    // stopped, which is the end of the file when the file ends inside it.
    if (colours == 0 && offset != std::min(header_end, file.length)) return false;  // "bad offset"
    long long row_bytes;
    long long skip;
    if (bits < 16) {
        if (colours == 0 || colours > 256) return false;
        if (bits != 1 && bits != 4 && bits != 8) return false;
        row_bytes = bits == 1 ? (width + 7) >> 3 : bits == 4 ? (width + 1) >> 1 : width;
        header_end += (colours > 0 ? colours : 0) * entry;
        skip = offset - 14 - header - colours * entry;
    } else {
        if (bits != 16 && bits != 24 && bits != 32) return false;  // the decoder finds no masks for them
        const bool plain_32 = bits == 32 && blue == 0xFFu && green == 0xFF00u && red == 0xFF0000u && alpha == 0xFF000000u;
        if (bits != 24 && !plain_32) {
            if (!red || !green || !blue) return false;
            if (bit_count(red) > 8 || bit_count(green) > 8 || bit_count(blue) > 8 || bit_count(alpha) > 8) return false;
        }
        row_bytes = width * (bits / 8);
        skip = offset - (header_end - header) - header;
    }
    layout->width = width;
    layout->height = height;
    layout->bits = bits;
    layout->colours = colours;
    // A negative skip puts the decoder at the end of the file.
    layout->pixel_start = skip < 0 ? file.length : header_end + skip;
    layout->row_bytes = row_bytes;
    layout->stride = row_bytes + ((4 - row_bytes % 4) % 4);
    return true;
}

// The decoder reads every row of the declared size from the file, with zeros
// past its end: a 54-byte header that declares 23170 x 23170 pixels makes it
// fill a 2 GB image, for 20 s, from no data at all. A file that does not hold
// the pixel data its header declares is truncated or forged; it is refused
// before decoding. The padding after the last row is not required.
bool bmp_pixels_past_end(const bmp_bytes& file, const bmp_layout& layout) {
    if (layout.width == 0 || layout.height == 0) return false;  // an empty image reads nothing
    return layout.pixel_start + (layout.height - 1) * layout.stride + layout.row_bytes > file.length;
}

// stb_image reads a paletted BMP's colours into a stack array of 256 entries
// and fills only as many as the file's palette holds; a pixel whose index lies
// beyond them takes the colour of whatever the stack held there, and the
// output file then carries those bytes. (The compiled-in decoder starts with
// that array zeroed, a build on the system libstb does not.) RLE-compressed
// files never get here: the decoder refuses them with its own reason.
bool bmp_index_beyond_palette(const bmp_bytes& file, const bmp_layout& layout) {
    if (layout.bits > 8) return false;
    // An offset that points into the header gives a negative count, which the
    // decoder takes as it is: it fills no slot at all.
    if (layout.colours < 0) return layout.height > 0 && layout.width > 0;
    if (layout.colours >= (1LL << layout.bits)) return false;  // every index has its colour
    const unsigned bits = layout.bits;
    for (long long row = 0, start = layout.pixel_start; row < layout.height && start < file.length;
         ++row, start += layout.stride) {
        for (long long x = 0; x < layout.width; ++x) {
            const long long byte = start + (bits == 8 ? x : bits == 4 ? x / 2 : x / 8);
            if (byte >= file.length) break;
            const unsigned value = file.data[byte];
            const unsigned index = bits == 8 ? value : bits == 4 ? (x % 2 ? value & 15 : value >> 4) : (value >> (7 - x % 8)) & 1;
            if (static_cast<long long>(index) >= layout.colours) return true;
        }
    }
    return false;
}

// The decoder's own bound: it decodes no image whose 8-bit RGBA block would
// exceed INT_MAX bytes. Its 16-bit PNG path converts before it checks that
// bound and then overflows the size it allocates, so the bound is applied here
// first, from the header alone; it also caps what a small file can make the
// decoder allocate at 2 GB.
bool too_large(const unsigned char* bytes, int length) {
    int width = 0;
    int height = 0;
    int channels = 0;
    // When the header cannot be read, the decoder runs and reports its own reason.
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) return false;
    // A top-down BMP reports its height negative here, as its header stores it.
    // Header dimensions can be near 2^31 each, so the product is formed
    // unsigned and compared with k_max_pixels rather than multiplied by 4.
    const unsigned long long pixels =
        static_cast<unsigned long long>(std::llabs(width)) * static_cast<unsigned long long>(std::llabs(height));
    return pixels > static_cast<unsigned long long>(k_max_pixels);
}

}  // namespace

// The checks run cheapest and most telling first: the JPEG walk's Huffman
// tables (which the header query parses too, so they must come before it), the
// size, then everything else.
const char* decode_refusal(const unsigned char* bytes, int length) {
    // The decoder takes any file for a JPEG whose fill bytes (FF) lead to an
    // SOI marker; the pipeline passes it only those that begin FF D8.
    const jpeg_bytes file{bytes, length > 0 ? static_cast<std::size_t>(length) : 0};
    std::size_t soi = 0;
    while (soi < file.length && bytes[soi] == 0xFF) ++soi;
    jpeg_fault jpeg = jpeg_fault::none;
    if (soi > 0 && soi < file.length && bytes[soi] == 0xD8) jpeg = find_jpeg_fault(file, soi + 1);
    if (jpeg == jpeg_fault::oversized_huffman_table) return "bad DHT header";
    if (too_large(bytes, length)) return "too large";
    switch (jpeg) {
        case jpeg_fault::undefined_table: return "undefined table";
        case jpeg_fault::missing_scan: return "missing scan";
        case jpeg_fault::too_many_scans: return "too many scans";
        case jpeg_fault::truncated: return "truncated";
        case jpeg_fault::oversized_huffman_table:
        case jpeg_fault::none: break;
    }
    const bmp_bytes bmp{bytes, length > 0 ? length : 0};
    bmp_layout layout;
    if (length >= 2 && bytes[0] == 'B' && bytes[1] == 'M' && read_bmp_layout(bmp, &layout)) {
        if (bmp_pixels_past_end(bmp, layout)) return "truncated";
        if (bmp_index_beyond_palette(bmp, layout)) return "bad palette index";
    }
    return nullptr;
}
