#include "exif_cleaner.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "image_metadata.h"

namespace {

constexpr uint16_t k_exif_ifd = 0x8769;
constexpr uint16_t k_gps_ifd = 0x8825;
constexpr uint16_t k_interop_ifd = 0xA005;
constexpr uint32_t k_header_size = 8;  // the byte order, 42, and where IFD0 starts
// More entries than any real directory has; a hostile count stops here.
constexpr unsigned k_max_entries = 1000;

// Tags that point at image data or may carry an image: never copied.
bool dropped_tag(uint16_t tag) {
    switch (tag) {
        case 0x0111:  // StripOffsets
        case 0x0117:  // StripByteCounts
        case 0x0144:  // TileOffsets
        case 0x0145:  // TileByteCounts
        case 0x014A:  // SubIFDs
        case 0x0201:  // JPEGInterchangeFormat: the thumbnail
        case 0x0202:  // JPEGInterchangeFormatLength
        case 0x02BC:  // XMP: may hold thumbnails and a location
        case 0x83BB:  // IPTC: may hold a location
        case 0x8773:  // ICC profile: carried on its own
        case 0x927C:  // MakerNote: private offsets, often a preview image
        case 0xC634:  // DNGPrivateData
            return true;
        default: return false;
    }
}

unsigned type_size(uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;  // BYTE ASCII SBYTE UNDEFINED
        case 3: case 8: return 2;                  // SHORT SSHORT
        case 4: case 9: case 11: return 4;         // LONG SLONG FLOAT
        case 5: case 10: case 12: return 8;        // RATIONAL SRATIONAL DOUBLE
        default: return 0;                         // IFD pointers (13) and unknown types
    }
}

struct directory;

struct entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;                 // raw bytes in the block's byte order
    std::unique_ptr<directory> child;  // the directory a pointer tag leads to
};

struct directory {
    std::vector<entry> entries;
};

class reader {
public:
    reader(const std::string& bytes, bool little) : bytes_(bytes), little_(little) {}

    bool u16(uint64_t at, uint16_t* value) const {
        if (at + 2 > bytes_.size()) return false;
        const unsigned a = byte(at), b = byte(at + 1);
        *value = static_cast<uint16_t>(little_ ? a | b << 8 : a << 8 | b);
        return true;
    }
    bool u32(uint64_t at, uint32_t* value) const {
        uint16_t first, second;
        if (!u16(at, &first) || !u16(at + 2, &second)) return false;
        *value = little_ ? uint32_t(second) << 16 | first : uint32_t(first) << 16 | second;
        return true;
    }
    bool holds(uint64_t at, uint64_t length) const { return at <= bytes_.size() && length <= bytes_.size() - at; }
    bool slice(uint64_t at, uint64_t length, std::string* out) const {
        if (!holds(at, length)) return false;
        out->assign(bytes_, static_cast<std::size_t>(at), static_cast<std::size_t>(length));
        return true;
    }

private:
    unsigned byte(uint64_t at) const { return static_cast<unsigned char>(bytes_[static_cast<std::size_t>(at)]); }
    const std::string& bytes_;
    bool little_;
};

// Which pointer tags a directory may follow: IFD0 leads to the Exif and GPS
// directories, the Exif directory to the interoperability one; no other
// nesting exists, which also rules out loops.
enum class level { ifd0, exif, leaf };

// A block has one directory of each kind at most: IFD0, Exif, GPS and
// interoperability. A hostile one may point at thousands, each to be read
// entry by entry: pointers past this many directories read are dropped.
constexpr unsigned k_max_directories = 4;

// What reading one block keeps track of across its directories.
struct block_walk {
    const reader& in;
    bool keep_location;
    // Where each directory read (or tried) starts. Pointers may share a
    // directory, and following each would copy it once per pointer: N
    // pointers to a directory of N pointers to one of N entries would make
    // N^3 entries. A pointer to a directory already read is dropped instead.
    std::vector<uint32_t> visited;
    // Bytes the cleaned block may still take, so that it is never larger
    // than the raw one. This also bounds what is held while reading: entries
    // may share one value as pointers share a directory. Each value counts
    // with the pad that may follow it to an even length; the last one written
    // needs none, so the room starts one byte larger than the raw block
    // allows, and the written block's size has the last word.
    uint64_t room;
    bool too_large = false;  // the block is carried as nothing

    // Takes size bytes of room; false (and the whole block too large) when
    // they are not there.
    bool take(uint64_t size) {
        if (size > room) too_large = true;
        if (too_large) return false;
        room -= size;
        return true;
    }
};

constexpr uint64_t k_entry_size = 12;
constexpr uint64_t k_directory_frame = 2 + 4;  // the entry count and the next directory's offset
// A value too long for its entry comes after the entries, padded to an even length.
uint64_t room_of_value(uint64_t length) { return length <= 4 ? 0 : length + length % 2; }

bool read_directory(block_walk& walk, uint32_t offset, level where, directory* out);

// Reads the directory a pointer entry leads to into e, taking the room of the
// entry and of the directory; false when it is not followed (already read, or
// past the number of directories read) or cannot be read, the room then
// given back.
bool follow_pointer(block_walk& walk, uint32_t offset, level where, entry* e) {
    if (walk.visited.size() >= k_max_directories ||
        std::find(walk.visited.begin(), walk.visited.end(), offset) != walk.visited.end())
        return false;
    const uint64_t room_before = walk.room;
    e->child = std::make_unique<directory>();
    if (walk.take(k_entry_size) && read_directory(walk, offset, where, e->child.get())) return true;
    walk.room = room_before;
    return false;
}

bool read_directory(block_walk& walk, uint32_t offset, level where, directory* out) {
    walk.visited.push_back(offset);
    const reader& in = walk.in;
    uint16_t count;
    if (!in.u16(offset, &count) || count > k_max_entries || !walk.take(k_directory_frame)) return false;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t at = uint64_t(offset) + 2 + 12u * i;
        entry e{};
        if (!in.u16(at, &e.tag) || !in.u16(at + 2, &e.type) || !in.u32(at + 4, &e.count)) return false;
        const bool pointer = e.tag == k_exif_ifd || e.tag == k_gps_ifd || e.tag == k_interop_ifd;
        if (pointer) {
            const bool allowed = (where == level::ifd0 && e.tag == k_exif_ifd) ||
                                 (where == level::ifd0 && e.tag == k_gps_ifd && walk.keep_location) ||
                                 (where == level::exif && e.tag == k_interop_ifd);
            uint32_t child_offset;
            if (!allowed || (e.type != 4 && e.type != 13) || e.count != 1 || !in.u32(at + 8, &child_offset)) continue;
            e.type = 4;
            const level next = e.tag == k_exif_ifd ? level::exif : level::leaf;
            if (follow_pointer(walk, child_offset, next, &e))
                out->entries.push_back(std::move(e));
            else if (walk.too_large)
                return false;
            continue;
        }
        const unsigned size = type_size(e.type);
        if (size == 0 || dropped_tag(e.tag)) continue;
        const uint64_t length = uint64_t(e.count) * size;
        uint64_t value_at = at + 8;
        if (length > 4) {
            uint32_t value_offset;
            if (!in.u32(at + 8, &value_offset) || !in.holds(value_offset, length)) continue;
            value_at = value_offset;
        }
        // The room first: it is what bounds the copy.
        if (!walk.take(k_entry_size + room_of_value(length)) || !in.slice(value_at, length, &e.value)) return false;
        out->entries.push_back(std::move(e));
    }
    return true;
}

class writer {
public:
    explicit writer(bool little) : little_(little) {}
    std::string bytes;

    void u16(uint16_t value) {
        const char a = static_cast<char>(value & 0xFF), b = static_cast<char>(value >> 8);
        bytes += little_ ? a : b;
        bytes += little_ ? b : a;
    }
    void u32(uint32_t value) {
        if (little_) {
            u16(static_cast<uint16_t>(value & 0xFFFF));
            u16(static_cast<uint16_t>(value >> 16));
        } else {
            u16(static_cast<uint16_t>(value >> 16));
            u16(static_cast<uint16_t>(value & 0xFFFF));
        }
    }
    void put_u32_at(std::size_t at, uint32_t value) {
        writer w(little_);
        w.u32(value);
        bytes.replace(at, 4, w.bytes);
    }

private:
    bool little_;
};

// Appends a directory (entries, then the values too long to sit in their
// entry, then the directories it points to) and returns where it starts.
uint32_t write_directory(const directory& dir, writer* out) {
    const std::size_t start = out->bytes.size();
    out->u16(static_cast<uint16_t>(dir.entries.size()));
    std::vector<std::size_t> value_slots(dir.entries.size());
    for (std::size_t i = 0; i < dir.entries.size(); ++i) {
        const entry& e = dir.entries[i];
        out->u16(e.tag);
        out->u16(e.type);
        out->u32(e.count);
        value_slots[i] = out->bytes.size();
        if (!e.child && e.value.size() <= 4)
            out->bytes += e.value + std::string(4 - e.value.size(), '\0');
        else
            out->u32(0);  // filled in below
    }
    out->u32(0);  // no next directory: the thumbnail's directory is not carried
    for (std::size_t i = 0; i < dir.entries.size(); ++i) {
        const entry& e = dir.entries[i];
        if (e.child || e.value.size() <= 4) continue;
        if (out->bytes.size() % 2) out->bytes += '\0';  // values start on a word boundary
        out->put_u32_at(value_slots[i], static_cast<uint32_t>(out->bytes.size()));
        out->bytes += e.value;
    }
    for (std::size_t i = 0; i < dir.entries.size(); ++i) {
        const entry& e = dir.entries[i];
        if (!e.child) continue;
        if (out->bytes.size() % 2) out->bytes += '\0';
        out->put_u32_at(value_slots[i], write_directory(*e.child, out));
    }
    return static_cast<uint32_t>(start);
}

}  // namespace

std::string cleaned_exif(const std::string& tiff, bool keep_location, bool* readable) {
    if (readable) *readable = false;
    if (tiff.size() < k_header_size || tiff.size() > k_metadata_limit) return {};
    const bool little = tiff.compare(0, 4, "II*\0", 4) == 0;
    if (!little && tiff.compare(0, 4, "MM\0*", 4) != 0) return {};
    const reader in(tiff, little);
    block_walk walk{in, keep_location, {}, tiff.size() + 1 - k_header_size};
    uint32_t first;
    directory ifd0;
    if (!in.u32(4, &first) || !read_directory(walk, first, level::ifd0, &ifd0)) return {};
    std::string cleaned;
    if (!ifd0.entries.empty()) {
        writer out(little);
        out.bytes.assign(tiff, 0, 4);
        out.u32(k_header_size);
        write_directory(ifd0, &out);
        // The byte of room kept for the last value's pad, taken by something else.
        if (out.bytes.size() > tiff.size()) return {};
        cleaned.swap(out.bytes);
    }
    if (readable) *readable = true;
    return cleaned;
}
