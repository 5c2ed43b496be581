// The command-line tool, run as a user would run it.
#include <string>

#include "cli_run.h"

namespace {

using outcome = cli_outcome;

class Cli : public ::testing::Test {
protected:
    scratch_dir dir;

    outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    std::string quoted(const char* name) const { return ::quoted(dir, name); }
};

}  // namespace

TEST_F(Cli, VersionAndHelp) {
    const outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "imgfilter 1.0.0\n");

    const outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* name : {"vignette", "--strength"})
        EXPECT_NE(help.out.find(name), std::string::npos) << name;

    const outcome one = run("vignette --help");
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.out.find("usage: imgfilter vignette [--strength VALUE] INPUT OUTPUT"), std::string::npos);
}

TEST_F(Cli, RunsAFilter) {
    ASSERT_TRUE(write_png(dir.path("in.png"), test_image(3, 3, {200, 100, 50, 128})));
    const outcome result = run("vignette --strength 0.5 " + quoted("in.png") + " " + quoted("out.png"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(load_image(dir.path("out.png")).at(0, 0), (rgba{100, 50, 25, 128}));

    // The default strength applies when the flag is absent; --flag=value works too.
    EXPECT_EQ(run("vignette " + quoted("in.png") + " " + quoted("d.png")).status, 0);
    EXPECT_EQ(run("vignette --strength=1 " + quoted("in.png") + " " + quoted("e.png")).status, 0);
    EXPECT_EQ(load_image(dir.path("e.png")).at(0, 0), (rgba{0, 0, 0, 128}));
}

TEST_F(Cli, LibraryFailureIsExitOneWithItsMessage) {
    // A read failure: the system's cause first, the library's message beside it.
    const outcome result = run("vignette " + quoted("missing.png") + " " + quoted("out.png"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "imgfilter: " + dir.path("missing.png") + ": No such file or directory (vignette: cannot "
                          "read input file '" + dir.path("missing.png") + "')\n");

    ASSERT_TRUE(write_bytes(dir.path("junk.png"), {'n', 'o', 'p', 'e'}));
    const outcome junk = run("vignette " + quoted("junk.png") + " " + quoted("out.png"));
    EXPECT_EQ(junk.status, 1);
    EXPECT_EQ(junk.err, "imgfilter: vignette: unsupported image format for '" + dir.path("junk.png") + "'\n");
}

TEST_F(Cli, BadCommandLinesAreExitTwo) {
    for (const char* arguments : {"", "sparkle a.png b.png", "vignette a.png", "vignette a.png b.png c.png",
                                  "vignette --strength", "vignette --strength abc a.png b.png",
                                  "vignette --colour 3 a.png b.png"}) {
        const outcome result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find("usage: imgfilter"), std::string::npos) << arguments;
    }
}

TEST_F(Cli, OverviewAndHelpCoverEveryFilter) {
    const outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    const struct {
        const char* name;
        const char* usage;
        const char* range;
    } filters[] = {
        {"blur", "usage: imgfilter blur [--radius VALUE] INPUT OUTPUT", "--radius: greater than 0"},
        {"sharpen", "usage: imgfilter sharpen [--amount VALUE] INPUT OUTPUT", "--amount: 0.0 to 5.0"},
        {"kernel", "usage: imgfilter kernel [--weights W1,W2,...] INPUT OUTPUT", "--weights: 9 or 25"},
        {"emboss", "usage: imgfilter emboss INPUT OUTPUT", "emboss: grey relief."},
        {"edge-detect", "usage: imgfilter edge-detect INPUT OUTPUT", "edge-detect: Sobel"},
        {"denoise", "usage: imgfilter denoise [--strength VALUE] INPUT OUTPUT", "--strength: 1 to 10"},
        {"pixelate", "usage: imgfilter pixelate [--block-size VALUE] INPUT OUTPUT", "--block-size: 1 or more"},
        {"oil-paint", "usage: imgfilter oil-paint [--radius VALUE] INPUT OUTPUT", "--radius: 1 or more (above 30"},
    };
    for (const auto& f : filters) {
        EXPECT_NE(help.out.find(std::string("  ") + f.name + " "), std::string::npos) << f.name;
        const outcome one = run(std::string(f.name) + " --help");
        EXPECT_EQ(one.status, 0) << f.name;
        EXPECT_EQ(one.out.rfind(f.usage, 0), 0u) << one.out;
        EXPECT_NE(one.out.find(f.range), std::string::npos) << one.out;
    }
}

TEST_F(Cli, EachFilterRunsWithItsParameter) {
    test_image spike(5, 1, {0, 0, 0, 255});
    spike.set(2, 0, {255, 255, 255, 255});
    test_image bright_centre(3, 3, {0, 0, 0, 255});
    bright_centre.set(1, 1, {50, 50, 50, 255});
    test_image numbered(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) numbered.set(x, y, {uint8_t(10 * x + y), 0, 0, 255});
    ASSERT_TRUE(write_png(dir.path("spike.png"), spike));
    ASSERT_TRUE(write_png(dir.path("centre.png"), bright_centre));
    ASSERT_TRUE(write_png(dir.path("numbered.png"), numbered));

    const struct {
        const char* arguments;
        const char* input;
        int x, y;
        rgba expected;
    } runs[] = {
        {"blur --radius 1", "spike.png", 1, 0, {62, 62, 62, 255}},
        {"blur --radius=0.5", "spike.png", 1, 0, {27, 27, 27, 255}},
        {"sharpen --amount 1", "spike.png", 2, 0, {255, 255, 255, 255}},
        {"kernel --weights 1,0,0,0,0,0,0,0,0", "numbered.png", 2, 2, {11, 0, 0, 255}},
        {"kernel --weights 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1", "numbered.png", 0, 0, {22, 0, 0, 255}},
        {"emboss", "centre.png", 0, 0, {228, 228, 228, 255}},
        {"edge-detect", "centre.png", 0, 0, {70, 70, 70, 255}},
        {"denoise --strength 10", "centre.png", 1, 1, {2, 2, 2, 255}},
        {"pixelate --block-size 2", "numbered.png", 0, 0, {6, 0, 0, 255}},
        {"oil-paint --radius 1", "centre.png", 1, 1, {0, 0, 0, 255}},
    };
    for (const auto& r : runs) {
        const outcome result = run(std::string(r.arguments) + " " + quoted(r.input) + " " + quoted("out.png"));
        EXPECT_EQ(result.status, 0) << r.arguments << ": " << result.err;
        EXPECT_EQ(load_image(dir.path("out.png")).at(r.x, r.y), r.expected) << r.arguments;
    }
}

TEST_F(Cli, WeightsMustBeNineOrTwentyFiveNumbers) {
    const struct {
        const char* weights;
        const char* problem;
    } cases[] = {
        {"1,2,3", "--weights takes 9 or 25 numbers, got 3"},
        {"1,1,1,1,1,1,1,1,1,1", "--weights takes 9 or 25 numbers, got 10"},
        {"0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", "--weights takes 9 or 25 numbers, got more than 25"},
        {"1,2,x,4,5,6,7,8,9", "--weights: item 3, 'x', is not a number"},
        {"1,2,3,4,5,6,7,8,9,", "--weights: item 10, '', is not a number"},
        {"1,2,3,4,5,6,7,8,9px", "--weights: item 9, '9px', is not a number"},
    };
    for (const auto& c : cases) {
        const outcome result = run(std::string("kernel --weights ") + c.weights + " a.png b.png");
        EXPECT_EQ(result.status, 2) << c.weights;
        // The usage lines follow: the single-file form first, then the batch form.
        EXPECT_EQ(result.err.rfind(std::string("imgfilter: ") + c.problem +
                                       "\nusage: imgfilter kernel [--weights W1,W2,...] INPUT OUTPUT\n",
                                   0),
                  0u)
            << result.err;
    }
    const outcome missing = run("kernel a.png b.png");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err.rfind("imgfilter: --weights is required\n", 0), 0u) << missing.err;
}

TEST_F(Cli, WholeNumberParametersRefuseFractionsAndWords) {
    for (const char* arguments : {"denoise --strength 2.5", "pixelate --block-size abc", "oil-paint --radius 1e3",
                                  "denoise --strength 99999999999", "blur --radius two"}) {
        const outcome result = run(std::string(arguments) + " a.png b.png");
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find("usage: imgfilter"), std::string::npos) << arguments;
    }
}

TEST_F(Cli, RefusedParametersAreExitTwoWithTheLibrarysMessageBeforeAnyFile) {
    ASSERT_TRUE(write_png(dir.path("in.png"), test_image(3, 3)));
    const struct {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"blur --radius 0", "blur: radius must be positive, got 0"},
        {"blur --radius nan", "blur: radius must be positive, got nan"},
        {"sharpen --amount 5.5", "sharpen: amount 5.5 out of range 0.0..5.0"},
        {"kernel --weights 0,0,0,0,nan,0,0,0,0", "kernel: weights[4] is not a number"},
        {"denoise --strength 11", "denoise: strength 11 out of range 1..10"},
        {"pixelate --block-size 0", "pixelate: block_size must be >= 1, got 0"},
        {"oil-paint --radius -3", "oil_paint: radius must be >= 1, got -3"},
        {"vignette --strength -2", "vignette: strength must be non-negative, got -2"},
    };
    for (const auto& c : cases) {
        // The input does not even exist: the parameter is refused first.
        for (const char* input : {"in.png", "missing.png"}) {
            const outcome result = run(std::string(c.arguments) + " " + quoted(input) + " " + quoted("out.png"));
            EXPECT_EQ(result.status, 2) << c.arguments;
            EXPECT_EQ(result.err.rfind(std::string("imgfilter: ") + c.message + "\nusage: imgfilter ", 0), 0u)
                << result.err;
            EXPECT_FALSE(file_exists(dir.path("out.png"))) << c.arguments;
        }
    }
}
