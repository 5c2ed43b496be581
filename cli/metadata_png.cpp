#include "metadata_png.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t k_signature_size = 8;

uint32_t u32_at(const std::string& bytes, std::size_t i) {
    const auto b = [&](std::size_t k) { return uint32_t(static_cast<unsigned char>(bytes[i + k])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

std::string u32_bytes(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

uint32_t checksum(const char* data, std::size_t size) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

std::string chunk(const char* type, const std::string& data) {
    const std::string body = std::string(type, 4) + data;
    return u32_bytes(static_cast<uint32_t>(data.size())) + body + u32_bytes(checksum(body.data(), body.size()));
}

// Ends the zlib stream however the inflating ends, an exception included.
class inflate_stream {
public:
    inflate_stream() { ready_ = inflateInit(&stream) == Z_OK; }
    ~inflate_stream() {
        if (ready_) inflateEnd(&stream);
    }
    inflate_stream(const inflate_stream&) = delete;
    inflate_stream& operator=(const inflate_stream&) = delete;
    bool ready() const { return ready_; }
    z_stream stream{};

private:
    bool ready_;
};

// Inflates at most k_metadata_limit bytes: a tiny chunk must not make us
// allocate gigabytes, and a stream that would give more is refused.
bool inflate_limited(const char* compressed, std::size_t size, std::string* out) {
    inflate_stream inflating;
    if (!inflating.ready()) return false;
    z_stream& stream = inflating.stream;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed));
    stream.avail_in = static_cast<uInt>(size);
    std::vector<char> buffer(65536);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        const std::size_t produced = buffer.size() - stream.avail_out;
        if (produced > k_metadata_limit - out->size()) return false;
        out->append(buffer.data(), produced);
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) status = Z_DATA_ERROR;  // truncated
    }
    return status == Z_STREAM_END;
}

// Whether the chunk at `at` is no larger than any carried block and its
// checksum matches.
bool readable_chunk(const std::string& png, std::size_t at, uint32_t length) {
    return length <= k_metadata_limit && checksum(png.data() + at + 4, 4 + length) == u32_at(png, at + 8 + length);
}

// The profile of an iCCP chunk's data: a name (1-79 bytes), a zero, the
// compression method (0) and the zlib stream. False when it cannot be read.
bool iccp_profile(const char* data, std::size_t size, std::string* profile) {
    const char* zero = static_cast<const char*>(std::memchr(data, '\0', std::min<std::size_t>(size, 80)));
    if (!zero || zero == data) return false;
    const std::size_t stream_at = static_cast<std::size_t>(zero - data) + 2;
    if (stream_at > size || zero[1] != 0) return false;
    return inflate_limited(data + stream_at, size - stream_at, profile);
}

bool deflate_whole(const std::string& data, std::string* out) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<Bytef> buffer(size);
    if (compress2(buffer.data(), &size, reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return false;
    out->assign(reinterpret_cast<const char*>(buffer.data()), size);
    return true;
}

bool is_png(const std::string& png) {
    return png.size() >= k_signature_size && png.compare(0, k_signature_size, "\x89PNG\r\n\x1a\n") == 0;
}

}  // namespace

image_metadata read_png_metadata(const std::string& png, bool* complete) {
    image_metadata found;
    bool ended = !is_png(png);
    if (complete) *complete = true;
    if (ended) return found;
    // Only the first eXIf and the first iCCP chunk are read, a file having
    // one of each at most: a hostile one repeats iCCP to have each profile
    // inflated in turn. Chunks larger than k_metadata_limit are not read.
    bool exif_seen = false, icc_seen = false;
    std::size_t at = k_signature_size;
    while (at + 12 <= png.size()) {
        const uint32_t length = u32_at(png, at);
        if (length > png.size() - at - 12) break;
        const std::string type = png.substr(at + 4, 4);
        if (type == "IDAT" || type == "IEND") {
            ended = true;
            break;
        }
        if (type == "eXIf" && !exif_seen) {
            exif_seen = true;
            if (readable_chunk(png, at, length))
                found.exif.assign(png, at + 8, length);
            else
                found.exif_unreadable = true;
        } else if (type == "iCCP" && !icc_seen) {
            icc_seen = true;
            found.icc_unreadable = !readable_chunk(png, at, length) || !iccp_profile(png.data() + at + 8, length, &found.icc);
            if (found.icc_unreadable) found.icc.clear();
        }
        at += 12 + length;
    }
    if (complete) *complete = ended;
    return found;
}

metadata_insertion png_metadata_insertion(const std::string& head, std::size_t file_size,
                                          const image_metadata& metadata) {
    metadata_insertion insertion;
    if (!is_png(head) || head.size() < k_signature_size + 12 || file_size < k_signature_size + 12) return insertion;
    std::string& chunks = insertion.bytes;
    if (!metadata.icc.empty()) {
        std::string compressed;
        if (!deflate_whole(metadata.icc, &compressed)) return insertion;
        chunks += chunk("iCCP", std::string("ICC profile\0\0", 13) + compressed);
    }
    if (!metadata.exif.empty()) chunks += chunk("eXIf", metadata.exif);
    // The header chunk comes first; everything the library wrote after it stays.
    const std::size_t header_end = k_signature_size + 12 + u32_at(head, k_signature_size);
    if (header_end <= file_size) insertion.at = header_end;
    return insertion;
}

std::string add_png_metadata(const std::string& png, const image_metadata& metadata) {
    const metadata_insertion insertion = png_metadata_insertion(png.substr(0, k_insertion_head), png.size(), metadata);
    if (!insertion.at) return {};
    return png.substr(0, insertion.at) + insertion.bytes + png.substr(insertion.at);
}
