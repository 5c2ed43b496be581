// The pipeline through the exported vignette entry point: reading, recognising,
// decoding, choosing the output format and the failure table, in order.
#include <sys/stat.h>

#include <string>

#include "decode/format_signature.h"
#include "encode/output_format.h"
#include "imgfilter.h"
#include "pipeline.h"
#include "stb_image_write.h"
#include "test_support.h"

namespace {

int failing_worker(filter_image*, const void*) {
    set_err("test: worker refused");
    return 0;
}

class Pipeline : public ::testing::Test {
protected:
    scratch_dir dir;
    std::string in(const char* name) const { return dir.path(name); }

    int run(const std::string& input, const std::string& output, filter_fn worker = keep_worker) {
        return process_image(input.c_str(), output.c_str(), "test", worker, nullptr);
    }
    std::string message() const { return imgfilter_last_error(); }
};

test_image checker(int w, int h) {
    test_image image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.set(x, y, {uint8_t(x * 40), uint8_t(y * 50), uint8_t(x + y), uint8_t(100 + x)});
    return image;
}

}  // namespace

TEST_F(Pipeline, NullPathsAreRefusedBeforeAnyFileIsTouched) {
    const std::string out = dir.path("out.png");
    EXPECT_EQ(imgfilter_vignette(nullptr, out.c_str(), 0.5f), 0);
    EXPECT_EQ(message(), "vignette: input and output paths must not be NULL");
    EXPECT_EQ(imgfilter_vignette(out.c_str(), nullptr, 0.5f), 0);
    EXPECT_EQ(imgfilter_vignette(nullptr, nullptr, 0.5f), 0);
    EXPECT_EQ(message(), "vignette: input and output paths must not be NULL");
    EXPECT_TRUE(list_dir(dir.root()).empty());
}

TEST_F(Pipeline, UnreadableInputsGiveTheReadFailure) {
    ASSERT_TRUE(write_bytes(in("empty.png"), {}));
    ASSERT_EQ(mkdir(in("folder.png").c_str(), 0755), 0);
    for (const char* name : {"missing.png", "empty.png", "folder.png"}) {
        EXPECT_EQ(run(in(name), dir.path("out.png")), 0) << name;
        EXPECT_EQ(message(), "test: cannot read input file '" + in(name) + "'");
    }
    EXPECT_FALSE(file_exists(dir.path("out.png")));
}

TEST_F(Pipeline, SignatureRules) {
    struct signature_case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool recognised;
    } cases[] = {
        {"one byte FF", {0xFF}, false},
        {"one byte B", {'B'}, false},
        {"FF D8 only", {0xFF, 0xD8}, true},
        {"FF without D8", {0xFF, 0xD9, 0, 0}, false},
        {"BM only", {'B', 'M'}, true},
        {"PNG start, 7 bytes", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, false},
        {"PNG start, 8 bytes, tail wrong", {0x89, 'P', 'N', 'G', 0, 0, 0, 0}, true},
        {"89 then not PNG", {0x89, 'P', 'N', 'X', 0x0D, 0x0A, 0x1A, 0x0A}, false},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, false},
        {"bm lower case", {'b', 'm', 0, 0}, false},
    };
    for (const signature_case& c : cases) {
        const std::string path = in("input.bin");
        ASSERT_TRUE(write_bytes(path, c.bytes));
        EXPECT_EQ(run(path, dir.path("out.png")), 0) << c.name;
        const std::string expected = c.recognised ? "test: cannot decode '" + path + "' ("
                                                  : "test: unsupported image format for '" + path + "'";
        EXPECT_EQ(message().substr(0, expected.size()), expected) << c.name;
        if (c.recognised) {
            EXPECT_EQ(message().back(), ')') << c.name;
        }
    }
    EXPECT_FALSE(file_exists(dir.path("out.png")));
}

TEST_F(Pipeline, DecoderReasonIsQuoted) {
    ASSERT_TRUE(write_bytes(in("broken.png"), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}));
    EXPECT_EQ(run(in("broken.png"), dir.path("out.png")), 0);
    EXPECT_EQ(message().rfind("test: cannot decode '" + in("broken.png") + "' (", 0), 0u);
    EXPECT_GT(message().size(), ("test: cannot decode '" + in("broken.png") + "' ()").size());
}

TEST_F(Pipeline, WorkerFailureKeepsItsMessageAndWritesNothing) {
    ASSERT_TRUE(write_png(in("in.png"), checker(3, 2)));
    EXPECT_EQ(run(in("in.png"), dir.path("out.png"), failing_worker), 0);
    EXPECT_EQ(message(), "test: worker refused");
    EXPECT_FALSE(file_exists(dir.path("out.png")));
}

TEST_F(Pipeline, BadParameterWithUnreadableInputReportsTheInput) {
    EXPECT_EQ(imgfilter_vignette(in("missing.png").c_str(), dir.path("out.png").c_str(), -1.0f), 0);
    EXPECT_EQ(message(), "vignette: cannot read input file '" + in("missing.png") + "'");
}

TEST_F(Pipeline, MissingOutputDirectoryIsAWriteFailure) {
    ASSERT_TRUE(write_png(in("in.png"), checker(3, 2)));
    const std::string out = dir.path("no/such/dir/out.png");
    EXPECT_EQ(run(in("in.png"), out), 0);
    EXPECT_EQ(message(), "test: cannot write output file '" + out + "'");
}

TEST_F(Pipeline, OutputFormatFollowsTheExtension) {
    ASSERT_TRUE(write_png(in("in.png"), checker(3, 2)));
    ASSERT_EQ(mkdir(dir.path("photos.old").c_str(), 0755), 0);
    struct extension_case {
        const char* output;
        const char* kind;
    } cases[] = {
        {"a.jpg", "jpeg"},   {"a.JPG", "jpeg"},    {"a.Jpeg", "jpeg"},       {"a.jpeg", "jpeg"},
        {"a.png", "png"},    {"a.PNG", "png"},     {"a.Bmp", "bmp"},         {"a.bmp", "bmp"},
        {"a.jpgx", "png"},   {"a.jpe", "png"},     {"a.png.tmp", "png"},     {"a.", "png"},
        {"noext", "png"},    {"photos.old/result", "png"}, {".png", "png"}, {".bmp", "bmp"},
        {"a.tif", "png"},    {"b.bmp.JPEG", "jpeg"},
    };
    for (const extension_case& c : cases) {
        const std::string out = dir.path(c.output);
        EXPECT_EQ(run(in("in.png"), out), 1) << c.output;
        EXPECT_EQ(file_kind(out), c.kind) << c.output;
    }
    // Without an extension a BMP input stays BMP and a JPEG input stays JPEG.
    ASSERT_TRUE(write_bmp(in("in.bmp"), checker(3, 2)));
    ASSERT_TRUE(write_jpg(in("in.jpg"), checker(3, 2)));
    EXPECT_EQ(run(in("in.bmp"), dir.path("from_bmp")), 1);
    EXPECT_EQ(file_kind(dir.path("from_bmp")), "bmp");
    EXPECT_EQ(run(in("in.jpg"), dir.path("from_jpg.out")), 1);
    EXPECT_EQ(file_kind(dir.path("from_jpg.out")), "jpeg");
}

TEST(OutputFormat, ExtensionTable) {
    EXPECT_EQ(choose_output_format("x.jPeG", image_format::png), image_format::jpeg);
    EXPECT_EQ(choose_output_format("x.jpg", image_format::bmp), image_format::jpeg);
    EXPECT_EQ(choose_output_format("dir.png/x", image_format::bmp), image_format::bmp);
    EXPECT_EQ(choose_output_format("x.", image_format::jpeg), image_format::jpeg);
    EXPECT_EQ(choose_output_format("x.pn", image_format::bmp), image_format::bmp);
    EXPECT_EQ(choose_output_format("x.pngg", image_format::bmp), image_format::bmp);
}

TEST_F(Pipeline, AlphaIsLostInJpegAndKeptInPngAndBmp) {
    test_image image = checker(4, 3);
    image.set(1, 1, {200, 10, 10, 0});
    ASSERT_TRUE(write_png(in("in.png"), image));
    for (const char* name : {"out.png", "out.bmp"}) {
        ASSERT_EQ(run(in("in.png"), dir.path(name)), 1);
        EXPECT_EQ(load_image(dir.path(name)), image) << name;
    }
    ASSERT_EQ(run(in("in.png"), dir.path("out.jpg")), 1);
    const test_image jpeg = load_image(dir.path("out.jpg"));
    ASSERT_EQ(jpeg.width, 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(jpeg.at(x, y).a, 255);
}

TEST_F(Pipeline, GreyPngDecodesToRgba) {
    // 1x1 grey PNG (8-bit, colour type 0) written by the encoder with one component.
    const unsigned char grey = 77;
    ASSERT_TRUE(stbi_write_png(in("grey.png").c_str(), 1, 1, 1, &grey, 1));
    ASSERT_EQ(run(in("grey.png"), dir.path("grey_out.png")), 1);
    EXPECT_EQ(load_image(dir.path("grey_out.png")).at(0, 0), (rgba{77, 77, 77, 255}));
}

TEST_F(Pipeline, SamePathForInputAndOutputReplacesTheInput) {
    ASSERT_TRUE(write_png(in("photo.png"), test_image(3, 3, {200, 100, 50, 128})));
    EXPECT_EQ(imgfilter_vignette(in("photo.png").c_str(), in("photo.png").c_str(), 0.5f), 1);
    const test_image result = load_image(in("photo.png"));
    EXPECT_EQ(result.at(0, 0), (rgba{100, 50, 25, 128}));
    EXPECT_EQ(list_dir(dir.root()).size(), 1u);  // no temporary left behind
}

TEST(Signature, ExaminesOnlyTheLeadingBytes) {
    const unsigned char png[8] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4};
    EXPECT_EQ(detect_format(png, 8), image_format::png);
    EXPECT_EQ(detect_format(png, 7), image_format::unsupported);
    const unsigned char jpeg[2] = {0xFF, 0xD8};
    EXPECT_EQ(detect_format(jpeg, 2), image_format::jpeg);
    EXPECT_EQ(detect_format(jpeg, 1), image_format::unsupported);
    const unsigned char bmp[2] = {'B', 'M'};
    EXPECT_EQ(detect_format(bmp, 2), image_format::bmp);
}
