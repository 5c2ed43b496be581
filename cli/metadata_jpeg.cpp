#include "metadata_jpeg.h"

#include <map>

namespace {

const char k_exif_id[] = "Exif\0\0";              // 6 bytes
const char k_icc_id[] = "ICC_PROFILE\0";          // 12 bytes
constexpr std::size_t k_exif_id_size = 6;
constexpr std::size_t k_icc_id_size = 12;
// A segment's length field counts itself: at most 65535 - 2 bytes of payload.
constexpr std::size_t k_max_payload = 65533;

unsigned byte_at(const std::string& bytes, std::size_t i) { return static_cast<unsigned char>(bytes[i]); }

std::string segment(unsigned marker, const std::string& payload) {
    const std::size_t length = payload.size() + 2;
    std::string out;
    out += '\xFF';
    out += static_cast<char>(marker);
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
    return out + payload;
}

}  // namespace

image_metadata read_jpeg_metadata(const std::string& jpeg, bool* complete) {
    image_metadata found;
    bool ended = false;
    if (complete) *complete = true;
    if (jpeg.size() < 4 || byte_at(jpeg, 0) != 0xFF || byte_at(jpeg, 1) != 0xD8) return found;
    // The profile's pieces by sequence number, kept while they add up to no
    // more than k_metadata_limit.
    std::map<unsigned, std::string> icc_pieces;
    std::size_t icc_size = 0;
    unsigned icc_count = 0;
    bool icc_seen = false, icc_broken = false;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (byte_at(jpeg, at) != 0xFF) {
            ended = true;
            break;
        }
        const unsigned marker = byte_at(jpeg, at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        // Start of scan or end of image: the header segments are over.
        if (marker == 0xDA || marker == 0xD9) {
            ended = true;
            break;
        }
        const std::size_t length = byte_at(jpeg, at + 2) << 8 | byte_at(jpeg, at + 3);
        if (length < 2) ended = true;  // broken: reading on would not help
        if (length < 2 || at + 2 + length > jpeg.size()) break;
        const std::size_t payload = at + 4, payload_size = length - 2;
        if (marker == 0xE1 && found.exif.empty() && payload_size >= k_exif_id_size &&
            jpeg.compare(payload, k_exif_id_size, k_exif_id, k_exif_id_size) == 0)
            found.exif.assign(jpeg, payload + k_exif_id_size, payload_size - k_exif_id_size);
        if (marker == 0xE2 && payload_size > k_icc_id_size + 2 &&
            jpeg.compare(payload, k_icc_id_size, k_icc_id, k_icc_id_size) == 0) {
            const unsigned sequence = byte_at(jpeg, payload + k_icc_id_size);
            const unsigned count = byte_at(jpeg, payload + k_icc_id_size + 1);
            const std::size_t piece = payload + k_icc_id_size + 2, piece_size = payload_size - k_icc_id_size - 2;
            icc_seen = true;
            icc_size += piece_size;
            if (sequence == 0 || sequence > count || (icc_count && count != icc_count) || icc_pieces.count(sequence) ||
                icc_size > k_metadata_limit)
                icc_broken = true;
            icc_count = count;
            if (icc_broken)
                icc_pieces.clear();
            else
                icc_pieces[sequence].assign(jpeg, piece, piece_size);
        }
        at += 2 + length;
    }
    if (!icc_broken && icc_pieces.size() == icc_count) {
        for (const auto& piece : icc_pieces) found.icc += piece.second;
    }
    found.icc_unreadable = icc_seen && found.icc.empty();
    if (complete) *complete = ended;
    return found;
}

metadata_insertion jpeg_metadata_insertion(const std::string& head, std::size_t file_size,
                                           const image_metadata& metadata) {
    metadata_insertion insertion;
    if (file_size < 4 || head.size() < 4 || byte_at(head, 0) != 0xFF || byte_at(head, 1) != 0xD8) return insertion;
    std::string& segments = insertion.bytes;
    if (!metadata.exif.empty() && metadata.exif.size() <= k_jpeg_exif_limit)
        segments += segment(0xE1, std::string(k_exif_id, k_exif_id_size) + metadata.exif);
    const std::size_t piece_size = k_max_payload - k_icc_id_size - 2;
    const std::size_t pieces = (metadata.icc.size() + piece_size - 1) / piece_size;
    if (metadata.icc.size() <= k_jpeg_icc_limit) {
        for (std::size_t i = 0; i < pieces; ++i) {
            std::string payload(k_icc_id, k_icc_id_size);
            payload += static_cast<char>(i + 1);
            payload += static_cast<char>(pieces);
            payload += metadata.icc.substr(i * piece_size, piece_size);
            segments += segment(0xE2, payload);
        }
    }
    // After the JFIF segment when there is one, which readers expect first.
    insertion.at = 2;
    if (byte_at(head, 2) == 0xFF && byte_at(head, 3) == 0xE0 && head.size() >= 6) {
        const std::size_t length = byte_at(head, 4) << 8 | byte_at(head, 5);
        if (4 + length <= file_size) insertion.at = 2 + 2 + length;
    }
    return insertion;
}

std::string add_jpeg_metadata(const std::string& jpeg, const image_metadata& metadata) {
    const metadata_insertion insertion =
        jpeg_metadata_insertion(jpeg.substr(0, k_insertion_head), jpeg.size(), metadata);
    if (!insertion.at) return {};
    return jpeg.substr(0, insertion.at) + insertion.bytes + jpeg.substr(insertion.at);
}
