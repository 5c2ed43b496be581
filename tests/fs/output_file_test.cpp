// Writing the output: never a partial or invalid file, never harm to what was
// at the output path (which may be the input itself).
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "encode/encode_image.h"
#include "imgfilter.h"
#include "test_support.h"

namespace {

// A sink that accepts a number of bytes and then fails, as a full disk would.
struct limited_sink : byte_sink {
    int accepted = 0;
    int limit = 0;
    int calls_after_failure = 0;
};

void limited_write(byte_sink* sink, const void*, int size) {
    limited_sink* s = static_cast<limited_sink*>(sink);
    if (s->failed) ++s->calls_after_failure;
    if (s->accepted + size > s->limit) s->failed = true;
    else s->accepted += size;
}

std::vector<uint8_t> k_old_content = {'o', 'l', 'd'};

}  // namespace

class OutputFile : public ::testing::Test {
protected:
    scratch_dir dir;
};

TEST_F(OutputFile, JpegWiderThan65535IsRefusedWithoutAFile) {
    ASSERT_TRUE(write_png(dir.path("wide.png"), test_image(65536, 1, {1, 2, 3, 255})));
    EXPECT_EQ(copy_image(dir.path("wide.png"), dir.path("wide.jpg")), 0);
    EXPECT_EQ(std::string(imgfilter_last_error()), "test: cannot write output file '" + dir.path("wide.jpg") + "'");
    EXPECT_FALSE(file_exists(dir.path("wide.jpg")));
    // The same image is fine as PNG, and 65535 is fine as JPEG.
    EXPECT_EQ(copy_image(dir.path("wide.png"), dir.path("wide_out.png")), 1);
    ASSERT_TRUE(write_png(dir.path("tall.png"), test_image(1, 65535, {1, 2, 3, 255})));
    EXPECT_EQ(copy_image(dir.path("tall.png"), dir.path("tall.jpg")), 1);
    EXPECT_EQ(load_image(dir.path("tall.jpg")).height, 65535);
}

TEST_F(OutputFile, EmptyImageIsNeverWritten) {
    // A BMP whose header says width 0 decodes to an empty image.
    ASSERT_TRUE(write_bmp(dir.path("one.bmp"), test_image(1, 1, {5, 6, 7, 255})));
    std::vector<uint8_t> bytes = read_bytes(dir.path("one.bmp"));
    ASSERT_GE(bytes.size(), 26u);
    bytes[18] = bytes[19] = bytes[20] = bytes[21] = 0;  // biWidth
    ASSERT_TRUE(write_bytes(dir.path("empty.bmp"), bytes));

    for (const char* name : {"out.png", "out.bmp", "out.jpg"}) {
        ASSERT_TRUE(write_bytes(dir.path(name), k_old_content));
        EXPECT_EQ(imgfilter_vignette(dir.path("empty.bmp").c_str(), dir.path(name).c_str(), 0.5f), 0) << name;
        EXPECT_EQ(std::string(imgfilter_last_error()),
                  "vignette: cannot write output file '" + dir.path(name) + "'");
        EXPECT_EQ(read_bytes(dir.path(name)), k_old_content) << name;
    }
    EXPECT_EQ(list_dir(dir.root()).size(), 5u);  // nothing but the inputs and the three old files
}

TEST_F(OutputFile, ExistingTemporaryNamesAreLeftAlone) {
    ASSERT_TRUE(write_png(dir.path("in.png"), noise(5, 4, 42)));
    ASSERT_TRUE(write_bytes(dir.path("out.png.tmp"), k_old_content));
    ASSERT_TRUE(write_bytes(dir.path("out.png.tmp1"), k_old_content));
    EXPECT_EQ(copy_image(dir.path("in.png"), dir.path("out.png")), 1);
    EXPECT_EQ(load_image(dir.path("out.png")), noise(5, 4, 42));
    EXPECT_EQ(read_bytes(dir.path("out.png.tmp")), k_old_content);
    EXPECT_EQ(read_bytes(dir.path("out.png.tmp1")), k_old_content);
    EXPECT_EQ(list_dir(dir.root()).size(), 4u);
}

TEST(EncodeImage, StopsFeedingASinkThatFailed) {
    const test_image image = noise(64, 64, 42);
    filter_image view{image.width, image.height, const_cast<unsigned char*>(image.bytes.data())};
    for (image_format format : {image_format::png, image_format::bmp, image_format::jpeg}) {
        limited_sink sink;
        sink.write = limited_write;
        sink.failed = false;
        sink.limit = 100;
        encode_image(format, view, &sink);
        EXPECT_TRUE(sink.failed);
        EXPECT_EQ(sink.calls_after_failure, 0);
    }
}

TEST(EncodeImage, RefusesWhatTheFormatCannotHold) {
    unsigned char pixel[4] = {1, 2, 3, 4};
    limited_sink sink;
    sink.write = limited_write;
    sink.failed = false;
    sink.limit = 1 << 20;
    filter_image empty{0, 5, pixel};
    EXPECT_FALSE(encode_image(image_format::png, empty, &sink));
    EXPECT_FALSE(encode_image(image_format::bmp, empty, &sink));
    EXPECT_FALSE(encode_image(image_format::jpeg, empty, &sink));
    filter_image one{1, 1, pixel};
    EXPECT_TRUE(encode_image(image_format::png, one, &sink));
}

// A write that fails midway (the file-size limit stands in for a full disk)
// reports the failure, leaves no temporary and keeps the old output, also when
// the output path is the input itself.
TEST_F(OutputFile, FailedWriteKeepsWhatWasThere) {
    const test_image image = noise(200, 200, 42);
    ASSERT_TRUE(write_png(dir.path("in.png"), image));
    ASSERT_TRUE(write_bytes(dir.path("out.png"), k_old_content));
    const std::vector<uint8_t> input_bytes = read_bytes(dir.path("in.png"));
    EXPECT_EXIT(
        {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 4096;
            setrlimit(RLIMIT_FSIZE, &limit);
            const bool refused = copy_image(dir.path("in.png"), dir.path("out.png")) == 0 &&
                                 std::string(imgfilter_last_error()) ==
                                     "test: cannot write output file '" + dir.path("out.png") + "'";
            const bool same_refused = copy_image(dir.path("in.png"), dir.path("in.png")) == 0;
            std::exit(refused && same_refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_bytes(dir.path("out.png")), k_old_content);
    EXPECT_EQ(read_bytes(dir.path("in.png")), input_bytes);
    EXPECT_EQ(list_dir(dir.root()).size(), 2u);
}

// Where no temporary can be created beside the output (a writable file in a
// read-only directory), the output is written in place.
TEST_F(OutputFile, ReadOnlyDirectoryFallsBackToWritingInPlace) {
    const test_image image = noise(6, 5, 42);
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    ASSERT_TRUE(write_png(dir.path("in.png"), image));
    ASSERT_EQ(chmod(dir.path("in.png").c_str(), 0644), 0);
    const std::string locked = dir.path("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    const std::string out = locked + "/out.png";
    ASSERT_TRUE(write_bytes(out, k_old_content));
    ASSERT_EQ(chmod(out.c_str(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    EXPECT_EXIT(
        {
            // Root ignores directory permissions: act as an ordinary user.
            if (geteuid() == 0 && setuid(65534) != 0) std::exit(2);
            std::exit(copy_image(dir.path("in.png"), out) == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(load_image(out), image);
    EXPECT_EQ(list_dir(locked).size(), 1u);
}
