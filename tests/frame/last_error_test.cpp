#include <cstring>
#include <string>

#include "imgfilter.h"
#include "test_support.h"

TEST(LastError, EmptyAtLoadAndSamePointerAlways) {
    // First test of this binary to touch the message: it is still as loaded.
    const char* first = imgfilter_last_error();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "");
    imgfilter_vignette("/nonexistent/a.png", "/nonexistent/b.png", 0.5f);
    imgfilter_init();
    EXPECT_EQ(imgfilter_last_error(), first);
}

TEST(LastError, SetErrFormatsAndReturnsTheBuffer) {
    const char* buffer = set_err("%s: radius %g and %d", "blur", 2.5, -3);
    EXPECT_EQ(buffer, imgfilter_last_error());
    EXPECT_STREQ(buffer, "blur: radius 2.5 and -3");
}

TEST(LastError, LongMessagesKeepExactlyTheFirst511Bytes) {
    const std::string path(600, 'p');
    EXPECT_EQ(imgfilter_vignette(path.c_str(), "out.png", 0.5f), 0);
    const std::string full = "vignette: cannot read input file '" + path + "'";
    ASSERT_EQ(std::strlen(imgfilter_last_error()), 511u);
    EXPECT_EQ(std::string(imgfilter_last_error()), full.substr(0, 511));

    // Exactly 511 characters fit whole.
    const std::string fits(511, 'x');
    set_err("%s", fits.c_str());
    EXPECT_EQ(std::string(imgfilter_last_error()), fits);
}

TEST(LastError, InitAndCleanupEmptyAPendingMessage) {
    set_err("blur: something");
    EXPECT_EQ(imgfilter_init(), 1);
    EXPECT_STREQ(imgfilter_last_error(), "");
    EXPECT_EQ(imgfilter_init(), 1);

    EXPECT_EQ(imgfilter_vignette(nullptr, "x.png", 0.5f), 0);
    imgfilter_cleanup();
    EXPECT_STREQ(imgfilter_last_error(), "");
}

TEST(LastError, EachCallLeavesOnlyItsOwnOutcome) {
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), test_image(2, 2, {9, 9, 9, 255})));

    EXPECT_EQ(imgfilter_vignette(dir.path("missing.png").c_str(), dir.path("o.png").c_str(), 0.5f), 0);
    EXPECT_EQ(imgfilter_vignette(nullptr, nullptr, 0.5f), 0);
    EXPECT_STREQ(imgfilter_last_error(), "vignette: input and output paths must not be NULL");

    EXPECT_EQ(imgfilter_vignette(dir.path("in.png").c_str(), dir.path("o.png").c_str(), 0.5f), 1);
    EXPECT_STREQ(imgfilter_last_error(), "");

    // The library keeps working after cleanup.
    imgfilter_cleanup();
    EXPECT_EQ(imgfilter_vignette(dir.path("in.png").c_str(), dir.path("o2.png").c_str(), 0.5f), 1);
}
