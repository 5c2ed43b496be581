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
    const outcome result = run("vignette " + quoted("missing.png") + " " + quoted("out.png"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "imgfilter: vignette: cannot read input file '" + dir.path("missing.png") + "'\n");

    ASSERT_TRUE(write_png(dir.path("in.png"), test_image(3, 3)));
    const outcome negative = run("vignette --strength -2 " + quoted("in.png") + " " + quoted("out.png"));
    EXPECT_EQ(negative.status, 1);
    EXPECT_EQ(negative.err, "imgfilter: vignette: strength must be non-negative, got -2\n");
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
