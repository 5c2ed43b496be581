#include "exif_sample.h"

#include <zlib.h>

const char k_thumbnail_marker[] = "THUMBNAIL-OF-THE-UNFILTERED-PHOTO";
const char k_maker_note_marker[] = "MAKERNOTE-WITH-A-PREVIEW";

namespace {

struct tiff_writer {
    bool little;
    std::string bytes;

    void u16(uint32_t v) {
        if (little) {
            bytes += char(v & 0xFF);
            bytes += char(v >> 8 & 0xFF);
        } else {
            bytes += char(v >> 8 & 0xFF);
            bytes += char(v & 0xFF);
        }
    }
    void u32(uint32_t v) {
        if (little) {
            u16(v & 0xFFFF);
            u16(v >> 16);
        } else {
            u16(v >> 16);
            u16(v & 0xFFFF);
        }
    }
    std::string encoded32(uint32_t v) const {
        tiff_writer w{little, {}};
        w.u32(v);
        return w.bytes;
    }
    std::string encoded16(uint32_t v) const {
        tiff_writer w{little, {}};
        w.u16(v);
        return w.bytes + std::string(2, '\0');
    }
};

struct field_spec {
    uint16_t tag, type;
    uint32_t count;
    std::string value;  // raw, already in byte order; an offset is patched in later when > 4 bytes
};

// Writes a directory at the end of w with values after it; returns the offset
// of each entry's value slot so pointer fields can be patched.
std::vector<std::size_t> write_directory(tiff_writer& w, const std::vector<field_spec>& fields, uint32_t next) {
    const std::size_t start = w.bytes.size();
    w.u16(static_cast<uint32_t>(fields.size()));
    std::vector<std::size_t> slots;
    for (const field_spec& f : fields) {
        w.u16(f.tag);
        w.u16(f.type);
        w.u32(f.count);
        slots.push_back(w.bytes.size());
        w.bytes += f.value.size() <= 4 ? f.value + std::string(4 - f.value.size(), '\0') : std::string(4, '\0');
    }
    w.u32(next);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].value.size() <= 4) continue;
        w.bytes.replace(slots[i], 4, w.encoded32(static_cast<uint32_t>(w.bytes.size())));
        w.bytes += fields[i].value;
        if (w.bytes.size() % 2) w.bytes += '\0';
    }
    (void)start;
    return slots;
}

std::string ascii(const char* text) { return std::string(text) + '\0'; }

std::string rationals(const tiff_writer& w, std::initializer_list<std::pair<uint32_t, uint32_t>> values) {
    std::string out;
    for (const auto& v : values) out += w.encoded32(v.first) + w.encoded32(v.second);
    return out;
}

}  // namespace

std::string latitude_bytes(bool little_endian) {
    tiff_writer w{little_endian, {}};
    return rationals(w, {{48, 1}, {51, 1}, {2999, 100}});
}

std::string phone_exif(bool little_endian) {
    tiff_writer w{little_endian, little_endian ? std::string("II*\0", 4) : std::string("MM\0*", 4)};
    w.u32(8);
    const std::vector<field_spec> ifd0 = {
        {0x010F, 2, 6, ascii("Phone")},
        {0x0110, 2, 8, ascii("Model X")},
        {0x0112, 3, 1, w.encoded16(6).substr(0, 2)},
        {0x0132, 2, 20, ascii("2024:05:01 12:34:56")},
        {0x8298, 2, 20, ascii("(c) A. Photographer")},
        {0x8769, 4, 1, w.encoded32(0)},
        {0x8825, 4, 1, w.encoded32(0)},
    };
    const std::vector<std::size_t> slots = write_directory(w, ifd0, 0);
    const std::size_t next_slot = 8 + 2 + 12 * ifd0.size();

    w.bytes.replace(slots[5], 4, w.encoded32(static_cast<uint32_t>(w.bytes.size())));
    write_directory(w, {{0x9003, 2, 20, ascii("2024:05:01 12:34:56")},
                        {0x927C, 7, 24, std::string(k_maker_note_marker, 24)}},
                    0);

    w.bytes.replace(slots[6], 4, w.encoded32(static_cast<uint32_t>(w.bytes.size())));
    write_directory(w, {{0x0001, 2, 2, ascii("N")}, {0x0002, 5, 3, latitude_bytes(little_endian)},
                        {0x0003, 2, 2, ascii("E")}, {0x0004, 5, 3, rationals(w, {{2, 1}, {17, 1}, {4012, 100}})}},
                    0);

    // IFD1, the thumbnail's directory, linked from IFD0's next pointer.
    w.bytes.replace(next_slot, 4, w.encoded32(static_cast<uint32_t>(w.bytes.size())));
    const std::string thumbnail = std::string("\xFF\xD8", 2) + k_thumbnail_marker + std::string("\xFF\xD9", 2);
    const std::vector<std::size_t> thumb_slots = write_directory(
        w, {{0x0103, 3, 1, w.encoded16(6).substr(0, 2)}, {0x0201, 4, 1, w.encoded32(0)},
            {0x0202, 4, 1, w.encoded32(static_cast<uint32_t>(thumbnail.size()))}},
        0);
    w.bytes.replace(thumb_slots[1], 4, w.encoded32(static_cast<uint32_t>(w.bytes.size())));
    w.bytes += thumbnail;
    return w.bytes;
}

const exif_field* exif_directory::find(uint16_t tag) const {
    for (const exif_field& f : fields)
        if (f.tag == tag) return &f;
    return nullptr;
}

namespace {

struct tiff_reader {
    const std::string& t;
    bool little;
    bool in(uint64_t at, uint64_t n) const { return at + n <= t.size(); }
    uint32_t u16(uint64_t at) const {
        const uint32_t a = uint8_t(t[at]), b = uint8_t(t[at + 1]);
        return little ? a | b << 8 : a << 8 | b;
    }
    uint32_t u32(uint64_t at) const { return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2); }
};

unsigned size_of(uint16_t type) {
    static const unsigned sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < 14 ? sizes[type] : 0;
}

}  // namespace

exif_directory read_exif_directory(const std::string& tiff, uint32_t offset) {
    exif_directory dir;
    if (tiff.size() < 8) return dir;
    const tiff_reader r{tiff, tiff[0] == 'I'};
    if (offset == 0) offset = r.u32(4);
    if (!r.in(offset, 2)) return dir;
    const uint32_t count = r.u16(offset);
    if (!r.in(offset, 2 + 12ull * count + 4)) return dir;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = offset + 2 + 12ull * i;
        exif_field f{static_cast<uint16_t>(r.u16(at)), static_cast<uint16_t>(r.u16(at + 2)), r.u32(at + 4), {}};
        const uint64_t length = uint64_t(size_of(f.type)) * f.count;
        const uint64_t value_at = length <= 4 ? at + 8 : r.u32(at + 8);
        if (!r.in(value_at, length)) return dir;
        f.value = tiff.substr(value_at, length);
        dir.fields.push_back(f);
    }
    dir.next = r.u32(offset + 2 + 12ull * count);
    dir.ok = true;
    return dir;
}

uint32_t exif_number(const std::string& tiff, const exif_field& field) {
    const tiff_reader r{field.value, tiff[0] == 'I'};
    return field.type == 3 ? r.u16(0) : r.u32(0);
}

std::vector<std::string> jpeg_segments(const std::string& jpeg, unsigned marker) {
    std::vector<std::string> found;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
        const unsigned m = uint8_t(jpeg[at + 1]);
        if (m == 0xDA || m == 0xD9) break;
        const std::size_t length = uint8_t(jpeg[at + 2]) << 8 | uint8_t(jpeg[at + 3]);
        if (m == marker) found.push_back(jpeg.substr(at + 4, length - 2));
        at += 2 + length;
    }
    return found;
}

std::vector<std::string> png_chunks(const std::string& png, const char* type) {
    std::vector<std::string> found;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::size_t length = std::size_t(uint8_t(png[at])) << 24 | uint8_t(png[at + 1]) << 16 |
                                   uint8_t(png[at + 2]) << 8 | uint8_t(png[at + 3]);
        if (png.compare(at + 4, 4, type) == 0) found.push_back(png.substr(at + 8, length));
        at += 12 + length;
    }
    return found;
}

std::string without_jpeg_metadata(const std::string& jpeg) {
    std::string out = jpeg.substr(0, 2);
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
        const unsigned m = uint8_t(jpeg[at + 1]);
        if (m == 0xDA) break;
        const std::size_t length = uint8_t(jpeg[at + 2]) << 8 | uint8_t(jpeg[at + 3]);
        if (m != 0xE1 && m != 0xE2) out += jpeg.substr(at, 2 + length);
        at += 2 + length;
    }
    return out + jpeg.substr(at);
}

std::string without_png_metadata(const std::string& png) {
    std::string out = png.substr(0, 8);
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::size_t length = std::size_t(uint8_t(png[at])) << 24 | uint8_t(png[at + 1]) << 16 |
                                   uint8_t(png[at + 2]) << 8 | uint8_t(png[at + 3]);
        const std::string type = png.substr(at + 4, 4);
        if (type != "eXIf" && type != "iCCP") out += png.substr(at, 12 + length);
        at += 12 + length;
    }
    return out;
}

std::string with_jpeg_segments(const std::string& jpeg, const std::vector<std::pair<unsigned, std::string>>& segments) {
    std::size_t at = 2;
    if (uint8_t(jpeg[3]) == 0xE0) at += 2 + (uint8_t(jpeg[4]) << 8 | uint8_t(jpeg[5]));
    std::string inserted;
    for (const auto& s : segments) {
        const std::size_t length = s.second.size() + 2;
        inserted += '\xFF';
        inserted += char(s.first);
        inserted += char(length >> 8);
        inserted += char(length & 0xFF);
        inserted += s.second;
    }
    return jpeg.substr(0, at) + inserted + jpeg.substr(at);
}

std::string with_png_chunks(const std::string& png, const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::string inserted;
    for (const auto& c : chunks) {
        const std::string body = c.first + c.second;
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
        const uint32_t length = uint32_t(c.second.size());
        for (int shift = 24; shift >= 0; shift -= 8) inserted += char(length >> shift & 0xFF);
        inserted += body;
        for (int shift = 24; shift >= 0; shift -= 8) inserted += char(crc >> shift & 0xFF);
    }
    const std::size_t ihdr_end = 8 + 12 + 13;
    return png.substr(0, ihdr_end) + inserted + png.substr(ihdr_end);
}

std::string sample_icc_profile(std::size_t size) {
    std::string profile(size, '\0');
    for (std::size_t i = 128; i < size; ++i) profile[i] = char((i * 7919) >> 3);
    for (int shift = 24, i = 0; shift >= 0; shift -= 8, ++i) profile[i] = char(size >> shift & 0xFF);
    profile.replace(12, 4, "mntr");
    profile.replace(16, 4, "RGB ");
    profile.replace(20, 4, "XYZ ");
    profile.replace(36, 4, "acsp");
    return profile;
}
