#include "decode_guards.h"

#include <climits>
#include <cstddef>
#include <cstdlib>

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
};

enum class jpeg_fault { none, oversized_huffman_table, undefined_table };

// stb_image builds each Huffman table into arrays of 256 symbols without
// checking the counts, so a table that declares more than 256 codes writes past
// them. The tables are read as the decoder reads them: one after another while
// the segment's length has bytes left, even beyond the declared end, until one
// has a class or slot the decoder rejects.
jpeg_fault read_dht(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned spec = file.at(table);
        if ((spec >> 4) > 1 || (spec & 15) > 3) break;  // the decoder stops with an error here
        unsigned codes = 0;
        for (std::size_t i = 1; i <= 16; ++i) codes += file.at(table + i);
        if (codes > 256) return jpeg_fault::oversized_huffman_table;
        tables->huffman[spec >> 4][spec & 15] = true;
        table += 17 + codes;
        remaining -= static_cast<long>(17 + codes);
    }
    return jpeg_fault::none;
}

void read_dqt(const jpeg_bytes& file, std::size_t length_field, jpeg_tables* tables) {
    long remaining = static_cast<long>(file.be16(length_field)) - 2;
    std::size_t table = length_field + 2;
    while (remaining > 0) {
        const unsigned spec = file.at(table);
        if ((spec >> 4) > 1 || (spec & 15) > 3) break;
        tables->quantisation[spec & 15] = true;
        const unsigned size = (spec >> 4) ? 129 : 65;  // 16- or 8-bit entries
        table += size;
        remaining -= static_cast<long>(size);
    }
}

// Only the first frame header counts: the decoder reads no other.
void read_sof(const jpeg_bytes& file, std::size_t length_field, unsigned marker, jpeg_tables* tables) {
    if (tables->frame_seen) return;
    tables->frame_seen = true;
    tables->progressive = marker == 0xC2;
    const unsigned count = file.at(length_field + 7);
    tables->components = count > 4 ? 4 : static_cast<int>(count);
    for (int i = 0; i < tables->components; ++i) {
        const std::size_t component = length_field + 8 + 3 * static_cast<std::size_t>(i);
        tables->component_id[i] = file.at(component);
        tables->component_quantisation[i] = file.at(component + 2);
    }
}

// A scan decodes its components with the tables its header names: baseline
// scans a DC and an AC table, progressive first DC scans a DC table, DC
// refinements none, AC scans an AC table; every component dequantises with its
// frame table. Selectors the decoder rejects are left to it.
bool scan_uses_undefined_table(const jpeg_bytes& file, std::size_t length_field, const jpeg_tables& tables) {
    const unsigned count = file.at(length_field + 2);
    const std::size_t after = length_field + 3 + 2 * static_cast<std::size_t>(count);
    const unsigned spectral_start = file.at(after);
    const unsigned approximation_high = file.at(after + 2) >> 4;
    const bool uses_dc = !tables.progressive || (spectral_start == 0 && approximation_high == 0);
    const bool uses_ac = !tables.progressive || spectral_start != 0;
    for (unsigned i = 0; i < count && i < 4; ++i) {
        const unsigned id = file.at(length_field + 3 + 2 * i);
        const unsigned dc = file.at(length_field + 4 + 2 * i) >> 4;
        const unsigned ac = file.at(length_field + 4 + 2 * i) & 15;
        for (int c = 0; c < tables.components; ++c) {
            if (tables.component_id[c] != id) continue;
            const unsigned quantisation = tables.component_quantisation[c];
            if (quantisation <= 3 && !tables.quantisation[quantisation]) return true;
            if (uses_dc && dc <= 3 && !tables.huffman[0][dc]) return true;
            if (uses_ac && ac <= 3 && !tables.huffman[1][ac]) return true;
            break;
        }
    }
    return false;
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

// Visits every segment that the decoder could parse, also those between and
// after scans (progressive files carry tables there), and is generous where the
// decoder is strict: junk between segments is skipped and markers without a
// length are passed over, so no table the decoder reaches is missed and none
// it defines goes unseen.
jpeg_fault find_jpeg_fault(const jpeg_bytes& file, std::size_t offset) {
    jpeg_tables tables;
    for (;;) {
        while (offset < file.length && file.data[offset] != 0xFF) ++offset;
        while (offset < file.length && file.data[offset] == 0xFF) ++offset;
        if (offset >= file.length) return jpeg_fault::none;
        const unsigned marker = file.data[offset++];
        if (marker == 0xD9) return jpeg_fault::none;  // end of image: the decoder stops reading
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || is_restart(marker)) continue;
        const unsigned segment_length = file.be16(offset);
        if (segment_length < 2) return jpeg_fault::none;  // every such segment stops the decoder with an error
        if (marker == 0xC4) {
            const jpeg_fault fault = read_dht(file, offset, &tables);
            if (fault != jpeg_fault::none) return fault;
        } else if (marker == 0xDB) {
            read_dqt(file, offset, &tables);
        } else if (marker >= 0xC0 && marker <= 0xC2) {
            read_sof(file, offset, marker, &tables);
        } else if (marker == 0xDA && scan_uses_undefined_table(file, offset, tables)) {
            return jpeg_fault::undefined_table;
        }
        offset += segment_length;
        if (marker == 0xDA) offset = skip_entropy_coded_data(file, offset);
    }
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
    return std::llabs(width) * std::llabs(height) * 4 > INT_MAX;
}

}  // namespace

const char* decode_refusal(const unsigned char* bytes, int length) {
    // The JPEG walk comes first because the header query parses DHT segments
    // too. The decoder takes any file for a JPEG whose fill bytes (FF) lead to
    // an SOI marker; the pipeline passes it only those that begin FF D8.
    const jpeg_bytes file{bytes, length > 0 ? static_cast<std::size_t>(length) : 0};
    std::size_t soi = 0;
    while (soi < file.length && bytes[soi] == 0xFF) ++soi;
    if (soi > 0 && soi < file.length && bytes[soi] == 0xD8) {
        switch (find_jpeg_fault(file, soi + 1)) {
            case jpeg_fault::oversized_huffman_table: return "bad DHT header";
            case jpeg_fault::undefined_table: return "undefined table";
            case jpeg_fault::none: break;
        }
    }
    if (too_large(bytes, length)) return "too large";
    return nullptr;
}
