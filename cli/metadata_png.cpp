#include "metadata_png.h"

#include <zlib.h>

#include <cstdint>
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

uint32_t checksum(const std::string& type_and_data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(type_and_data.data()), static_cast<uInt>(type_and_data.size())));
}

std::string chunk(const char* type, const std::string& data) {
    const std::string body = std::string(type, 4) + data;
    return u32_bytes(static_cast<uint32_t>(data.size())) + body + u32_bytes(checksum(body));
}

// Inflates at most k_metadata_limit bytes: a tiny chunk must not make us
// allocate gigabytes.
bool inflate_limited(const std::string& compressed, std::string* out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::vector<char> buffer(65536);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out->append(buffer.data(), buffer.size() - stream.avail_out);
        if (out->size() > k_metadata_limit) status = Z_MEM_ERROR;
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) status = Z_DATA_ERROR;  // truncated
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
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
    std::size_t at = k_signature_size;
    while (at + 12 <= png.size()) {
        const uint32_t length = u32_at(png, at);
        if (length > png.size() - at - 12) break;
        const std::string type = png.substr(at + 4, 4);
        if (type == "IDAT" || type == "IEND") {
            ended = true;
            break;
        }
        const std::string body = png.substr(at + 4, 4 + length);
        const bool intact = checksum(body) == u32_at(png, at + 8 + length);
        const std::string data = body.substr(4);
        if (intact && type == "eXIf" && found.exif.empty() && data.size() <= k_metadata_limit) found.exif = data;
        if (intact && type == "iCCP" && found.icc.empty()) {
            // Profile name (1-79 bytes), a zero, the compression method (0), the stream.
            const std::size_t zero = data.find('\0');
            std::string profile;
            if (zero != std::string::npos && zero >= 1 && zero <= 79 && zero + 2 <= data.size() &&
                data[zero + 1] == 0 && inflate_limited(data.substr(zero + 2), &profile))
                found.icc = profile;
        }
        at += 12 + length;
    }
    if (complete) *complete = ended;
    return found;
}

std::string add_png_metadata(const std::string& png, const image_metadata& metadata) {
    if (!is_png(png) || png.size() < k_signature_size + 12) return {};
    std::string chunks;
    if (!metadata.icc.empty()) {
        std::string compressed;
        if (!deflate_whole(metadata.icc, &compressed)) return {};
        chunks += chunk("iCCP", std::string("ICC profile\0\0", 13) + compressed);
    }
    if (!metadata.exif.empty()) chunks += chunk("eXIf", metadata.exif);
    // The header chunk comes first; everything the library wrote after it stays.
    const std::size_t header_end = k_signature_size + 12 + u32_at(png, k_signature_size);
    if (header_end > png.size()) return {};
    return png.substr(0, header_end) + chunks + png.substr(header_end);
}
