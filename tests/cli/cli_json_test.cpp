// --json: one JSON object per file on stdout, for runners that collect the
// results of many machines.
#include <sys/stat.h>

#include <string>

#include "cli_run.h"

namespace {

class CliJson : public ::testing::Test {
protected:
    scratch_dir dir;

    void SetUp() override { ASSERT_TRUE(write_png(dir.path("a.png"), test_image(3, 3))); }
    cli_outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    std::string q(const std::string& name) const { return quoted(dir, name); }
};

}  // namespace

TEST_F(CliJson, OneLinePerFileInCommandLineOrder) {
    ASSERT_EQ(mkdir(dir.path("out").c_str(), 0700), 0);
    ASSERT_TRUE(write_bytes(dir.path("out/kept.png"), {'x'}));
    ASSERT_TRUE(write_png(dir.path("kept.png"), test_image(2, 2)));
    const cli_outcome result =
        run("emboss --json -n -j 3 -o " + q("out") + " " + q("missing.png") + " " + q("a.png") + " " + q("kept.png"));
    EXPECT_EQ(result.status, 1);
    const std::string missing = dir.path("missing.png");
    EXPECT_EQ(result.out,
              "{\"input\":\"" + missing + "\",\"output\":\"" + dir.path("out/missing.png") +
                  "\",\"status\":\"failed\",\"message\":\"No such file or directory (emboss: cannot read input file '" +
                  missing + "')\"}\n"
                  "{\"input\":\"" + dir.path("a.png") + "\",\"output\":\"" + dir.path("out/a.png") +
                  "\",\"status\":\"written\",\"message\":\"\"}\n"
                  "{\"input\":\"" + dir.path("kept.png") + "\",\"output\":\"" + dir.path("out/kept.png") +
                  "\",\"status\":\"skipped\",\"message\":\"\"}\n");
    // The failure line for people stays on stderr.
    EXPECT_EQ(result.err, "imgfilter: " + missing + ": No such file or directory (emboss: cannot read input file '" +
                              missing + "')\n");
}

TEST_F(CliJson, SingleFileAndNamesThatAreNotPlainText) {
    // A quote, a backslash, a tab and a byte that is not UTF-8 in the name.
    const std::string odd = "o\"d\\d\t\xff.png";
    ASSERT_TRUE(write_bytes(dir.path(odd), read_bytes(dir.path("a.png"))));
    const cli_outcome result = run("emboss --json " + q(odd) + " " + q("b.png"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "{\"input\":\"" + dir.path("o\\\"d\\\\d\\u0009\\ufffd.png") + "\",\"output\":\"" +
                              dir.path("b.png") + "\",\"status\":\"written\",\"message\":\"\"}\n");
}
