// What the tool checks before it works, and how it names what went wrong.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cli_run.h"

namespace {

class CliChecks : public ::testing::Test {
protected:
    scratch_dir dir;

    void SetUp() override { ASSERT_TRUE(write_png(dir.path("in.png"), test_image(4, 3, {10, 20, 30, 255}))); }
    cli_outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    std::string q(const std::string& name) const { return quoted(dir, name); }
};

class CliUnwritable : public CliChecks, public ::testing::WithParamInterface<const char*> {};

}  // namespace

TEST_F(CliChecks, FilterNamesAsTheLibrarySpellsThem) {
    for (const char* names : {"edge-detect edge_detect", "oil-paint oil_paint"}) {
        const std::string dashed(names, std::strchr(names, ' ')), underscored = std::strchr(names, ' ') + 1;
        ASSERT_EQ(run(dashed + " " + q("in.png") + " " + q("a.png")).status, 0);
        const cli_outcome result = run(underscored + " " + q("in.png") + " " + q("b.png"));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(read_bytes(dir.path("a.png")), read_bytes(dir.path("b.png"))) << names;
    }
    EXPECT_EQ(run("edge__detect " + q("in.png") + " " + q("c.png")).status, 2);
}

TEST_P(CliUnwritable, ExtensionsOfOtherFormatsAreRefusedBeforeWork) {
    const std::string output = std::string("out.") + GetParam();
    const cli_outcome single = run("blur " + q("in.png") + " " + q(output));
    EXPECT_EQ(single.status, 2);
    EXPECT_EQ(single.err.rfind("imgfilter: cannot write ." + std::string(GetParam()) + " files: '" + dir.path(output) +
                                   "' (the output formats are jpg, png and bmp)\n",
                               0),
              0u)
        << single.err;
    EXPECT_FALSE(file_exists(dir.path(output)));

    // In batch mode the name comes from the input's; that file is refused.
    ASSERT_TRUE(write_bytes(dir.path(output), read_bytes(dir.path("in.png"))));
    const cli_outcome batch = run("blur -o " + q("out") + " " + q(output) + " " + q("in.png"));
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.err, "imgfilter: " + dir.path(output) + ": cannot write ." + GetParam() +
                             " files (the output formats are jpg, png and bmp; --format chooses one)\n");
    EXPECT_EQ(list_dir(dir.path("out")), std::vector<std::string>{"in.png"});
    EXPECT_EQ(run("blur --format png -o " + q("out2") + " " + q(output)).status, 0);
}

INSTANTIATE_TEST_SUITE_P(CommonFormats, CliUnwritable,
                         ::testing::Values("webp", "tif", "tiff", "TIFF", "gif", "avif", "heic", "jxl"));

TEST_F(CliChecks, OutputDirectoryValueIsTheNextWordOrAfterEquals) {
    EXPECT_EQ(run("emboss -o=" + q("eq") + " " + q("in.png")).status, 0);
    EXPECT_TRUE(file_exists(dir.path("eq/in.png")));
    EXPECT_EQ(run("emboss --output-dir=" + q("long") + " " + q("in.png")).status, 0);
    EXPECT_TRUE(file_exists(dir.path("long/in.png")));

    // "-out.png" is a file name typed without "--", not "-o ut.png".
    ASSERT_EQ(chdir(dir.root().c_str()), 0);
    const cli_outcome glued = run("emboss -out.png " + q("in.png"));
    EXPECT_EQ(glued.status, 2);
    EXPECT_EQ(glued.err.rfind("imgfilter: unknown option '-out.png' (a file whose name starts with '-' goes after --)\n",
                              0),
              0u)
        << glued.err;
    EXPECT_FALSE(file_exists(dir.path("ut.png")));
}

TEST_F(CliChecks, BatchNeverReplacesItsOwnInputsUnlessAsked) {
    ASSERT_EQ(mkdir(dir.path("photos").c_str(), 0700), 0);
    ASSERT_TRUE(write_bytes(dir.path("photos/a.png"), read_bytes(dir.path("in.png"))));
    ASSERT_EQ(symlink(dir.path("photos").c_str(), dir.path("link").c_str()), 0);
    const std::vector<uint8_t> original = read_bytes(dir.path("photos/a.png"));
    // The same directory, by its name and through a symbolic link.
    for (const char* out_dir : {"photos", "link"}) {
        SCOPED_TRACE(out_dir);
        const cli_outcome refused = run("emboss -o " + q(out_dir) + " " + q("photos/a.png"));
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "imgfilter: " + dir.path("photos/a.png") + ": '" + dir.path(out_dir) +
                                   "/a.png' is one of the inputs; --overwrite replaces it\n");
        EXPECT_EQ(read_bytes(dir.path("photos/a.png")), original);
    }
    const cli_outcome allowed = run("emboss --overwrite -o " + q("photos") + " " + q("photos/a.png"));
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(read_bytes(dir.path("photos/a.png")), original);
    EXPECT_EQ(run("emboss --overwrite " + q("in.png") + " " + q("x.png")).status, 2);  // batch-only option
}

TEST_F(CliChecks, NoClobberSkipsExistingOutputs) {
    ASSERT_EQ(mkdir(dir.path("out").c_str(), 0700), 0);
    ASSERT_TRUE(write_bytes(dir.path("out/in.png"), {'o', 'l', 'd'}));
    ASSERT_TRUE(write_png(dir.path("new.png"), test_image(2, 2)));
    for (const char* flag : {"-n", "--no-clobber"}) {
        const cli_outcome batch = run(std::string("emboss ") + flag + " -o " + q("out") + " " + q("in.png") + " " +
                                      q("new.png"));
        EXPECT_EQ(batch.status, 0) << batch.err;
        EXPECT_EQ(batch.out.rfind("imgfilter: 1 of 2 files written to " + dir.path("out") +
                                      ", 0 failed, 1 skipped (they exist) (",
                                  0),
                  0u)
            << batch.out;
        EXPECT_EQ(read_bytes(dir.path("out/in.png")), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(file_kind(dir.path("out/new.png")), "png");
        ASSERT_EQ(unlink(dir.path("out/new.png").c_str()), 0);
    }
    const cli_outcome single = run("emboss -n " + q("in.png") + " " + q("out/in.png"));
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(read_bytes(dir.path("out/in.png")), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(CliChecks, ReadFailuresGetTheSystemsCause) {
    ASSERT_EQ(mkdir(dir.path("folder.png").c_str(), 0700), 0);
    ASSERT_TRUE(write_bytes(dir.path("empty.png"), {}));
    ASSERT_TRUE(write_bytes(dir.path("locked.png"), read_bytes(dir.path("in.png"))));
    ASSERT_EQ(chmod(dir.path("locked.png").c_str(), 0), 0);
    struct {
        const char* name;
        const char* cause;
    } cases[] = {{"missing.png", "No such file or directory"},
                 {"folder.png", "Is a directory"},
                 {"empty.png", "empty file"},
                 {"locked.png", "Permission denied"},
                 {"missing/dir.png", "No such file or directory"}};
    for (const auto& c : cases) {
        // root reads any file whatever its mode: there the lock proves nothing.
        if (geteuid() == 0 && std::string(c.name) == "locked.png") continue;
        const cli_outcome result = run("emboss " + q(c.name) + " " + q("out.png"));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "imgfilter: " + dir.path(c.name) + ": " + c.cause + " (emboss: cannot read input file '" +
                                  dir.path(c.name) + "')\n");
    }
}
