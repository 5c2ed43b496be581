// The EXIF cleaner on hostile blocks: whatever the bytes, it returns either
// nothing or a block that reads back cleanly, and never reads outside its input.
#include <gtest/gtest.h>

#include <string>

#include "exif_cleaner.h"
#include "exif_sample.h"

namespace {

std::string le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return le16(tag) + le16(type) + le32(count) + le32(value);
}
const std::string k_header = std::string("II*\0", 4) + le32(8);

}  // namespace

TEST(ExifCleaner, BothByteOrdersKeepTheirOrderAndLoseTheThumbnail) {
    for (bool little : {true, false}) {
        const std::string cleaned = cleaned_exif(phone_exif(little), false);
        ASSERT_FALSE(cleaned.empty());
        EXPECT_EQ(cleaned.substr(0, 2), little ? "II" : "MM");
        const exif_directory ifd0 = read_exif_directory(cleaned);
        ASSERT_TRUE(ifd0.ok);
        EXPECT_EQ(ifd0.next, 0u);
        EXPECT_LT(cleaned.size(), phone_exif(little).size());
        EXPECT_EQ(cleaned.find(k_thumbnail_marker), std::string::npos);
    }
}

TEST(ExifCleaner, CleaningTwiceChangesNothing) {
    for (bool keep_location : {false, true}) {
        const std::string once = cleaned_exif(phone_exif(), keep_location);
        EXPECT_EQ(cleaned_exif(once, keep_location), once);
    }
}

TEST(ExifCleaner, MalformedBlocksGiveNothing) {
    for (const std::string& block : {
             std::string(),
             std::string("II*\0", 4),
             std::string("XX*\0", 4) + le32(8) + le16(0),
             k_header,                                        // the directory is missing
             std::string("II*\0", 4) + le32(0xFFFFFFF0),      // it lies far beyond the end
             k_header + le16(3) + entry(0x0112, 3, 1, 6),     // fewer entries than counted
             k_header + le16(0) + le32(0),                    // nothing to keep
         })
        EXPECT_EQ(cleaned_exif(block, true), "") << block.size();
}

TEST(ExifCleaner, BadValuesAndPointersAreDroppedNotFollowed) {
    const std::string block = k_header + le16(6) +
                              entry(0x0112, 3, 1, 6) +               // kept
                              entry(0x010F, 2, 0x40000000, 100) +    // a value far past the end
                              entry(0x0110, 99, 1, 0) +              // unknown type
                              entry(0x8769, 4, 1, 8) +               // points back at IFD0 itself
                              entry(0x8825, 4, 2, 8) +               // GPS with a count of 2
                              entry(0xA005, 4, 1, 8) +               // interoperability, in the wrong place
                              le32(8);                               // next IFD: IFD0 again, a loop
    const std::string cleaned = cleaned_exif(block, true);
    const exif_directory ifd0 = read_exif_directory(cleaned);
    ASSERT_TRUE(ifd0.ok);
    ASSERT_NE(ifd0.find(0x0112), nullptr);
    EXPECT_EQ(ifd0.find(0x010F), nullptr);
    EXPECT_EQ(ifd0.find(0x0110), nullptr);
    EXPECT_EQ(ifd0.find(0x8825), nullptr);
    EXPECT_EQ(ifd0.find(0xA005), nullptr);
    EXPECT_EQ(ifd0.next, 0u);
    // The Exif pointer to IFD0 is followed once, as a leaf-level Exif
    // directory: no deeper, so the loop ends there.
    const exif_field* exif = ifd0.find(0x8769);
    if (exif) {
        EXPECT_TRUE(read_exif_directory(cleaned, exif_number(cleaned, *exif)).ok);
    }
}

TEST(ExifCleaner, HugeEntryCountIsRefused) {
    EXPECT_EQ(cleaned_exif(k_header + le16(60000) + std::string(64, '\0'), false), "");
}

TEST(ExifCleaner, MutatedBlocksGiveNothingOrAReadableBlock) {
    // Fixed-seed damage to a real-looking block: offsets, counts and types
    // all get hit. Under the sanitizers a read outside the block fails here.
    const std::string original = phone_exif();
    uint32_t state = 12345;
    const auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 3000; ++round) {
        std::string block = original;
        for (int hits = 1 + next() % 4; hits > 0; --hits) block[next() % block.size()] = static_cast<char>(next() >> 24);
        if (next() % 8 == 0) block.resize(next() % block.size());
        const std::string cleaned = cleaned_exif(block, round % 2 == 0);
        if (!cleaned.empty()) {
            EXPECT_TRUE(read_exif_directory(cleaned).ok) << round;
            EXPECT_EQ(cleaned_exif(cleaned, round % 2 == 0), cleaned) << round;
        }
    }
}
