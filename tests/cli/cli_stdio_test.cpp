// "-" as the input (standard input) and as the output (standard output).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <string>

#include "cli_run.h"

namespace {

class CliStdio : public ::testing::Test {
protected:
    scratch_dir dir;

    void SetUp() override {
        test_image image(6, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) image.set(x, y, {uint8_t(x * 40), uint8_t(y * 60), 200, uint8_t(255 - x)});
        ASSERT_TRUE(write_png(dir.path("in.png"), image));
        ASSERT_TRUE(write_jpg(dir.path("in.jpg"), image));
        ASSERT_TRUE(write_bmp(dir.path("in.bmp"), image));
        ASSERT_TRUE(write_bytes(dir.path("junk"), {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0xFF}));
        // The tool's private temporary directories go here, so a test sees
        // whether any is left behind.
        ASSERT_EQ(mkdir(dir.path("tmp").c_str(), 0700), 0);
        setenv("TMPDIR", dir.path("tmp").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TMPDIR");
        EXPECT_TRUE(list_dir(dir.path("tmp")).empty());
    }
    std::string q(const std::string& name) const { return quoted(dir, name); }
    cli_outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    cli_outcome piped(const std::string& arguments, const std::string& input) {
        return run_cli_with_stdin(dir, arguments, dir.path(input));
    }
    std::string file(const std::string& name) const {
        const std::vector<uint8_t> bytes = read_bytes(dir.path(name));
        return std::string(bytes.begin(), bytes.end());
    }
};

class CliStdioFormats : public CliStdio, public ::testing::WithParamInterface<const char*> {};

}  // namespace

TEST_P(CliStdioFormats, StdinToStdoutGivesTheBytesOfAFileRun) {
    const std::string input = std::string("in.") + GetParam();
    ASSERT_EQ(run("blur --radius 1.5 " + q(input) + " " + q(std::string("out.") + GetParam())).status, 0);
    const cli_outcome result = piped("blur --radius 1.5 - -", input);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, file(std::string("out.") + GetParam()));  // the input's format, binary-safe
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, CliStdioFormats, ::testing::Values("png", "jpg", "bmp"));

TEST_F(CliStdio, FormatChoosesWhatStdoutGets) {
    for (const char* format : {"png", "jpg", "bmp"}) {
        ASSERT_EQ(run(std::string("emboss ") + q("in.png") + " " + q(std::string("ref.") + format)).status, 0);
        const cli_outcome result = piped(std::string("emboss --format ") + format + " - -", "in.png");
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, file(std::string("ref.") + format)) << format;
    }
}

TEST_F(CliStdio, OneSideAFile) {
    ASSERT_EQ(run("pixelate --block-size 2 " + q("in.png") + " " + q("ref.png")).status, 0);
    const cli_outcome from_stdin = piped("pixelate --block-size 2 - " + q("out.png"), "in.png");
    EXPECT_EQ(from_stdin.status, 0) << from_stdin.err;
    EXPECT_EQ(file("out.png"), file("ref.png"));
    const cli_outcome to_stdout = run("pixelate --block-size 2 " + q("in.png") + " -");
    EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
    EXPECT_EQ(to_stdout.out, file("ref.png"));
}

TEST_F(CliStdio, FailureWritesNothingToStdout) {
    const cli_outcome result = piped("emboss - -", "junk");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "imgfilter: emboss: unsupported image format for '-'\n");
    const cli_outcome empty = run_cli_with_stdin(dir, "emboss - -", "/dev/null");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err, "imgfilter: -: empty file (emboss: cannot read input file '-')\n");
}

TEST_F(CliStdio, StdinOnlyInTheSingleFileForm) {
    const cli_outcome batch = piped("emboss -o " + q("out") + " -", "in.png");
    EXPECT_EQ(batch.status, 2);
    const cli_outcome to_dash_dir = run("emboss -o - " + q("in.png"));
    EXPECT_EQ(to_dash_dir.status, 2);
    const cli_outcome json_and_stdout = run("emboss --json " + q("in.png") + " -");
    EXPECT_EQ(json_and_stdout.status, 2);
    EXPECT_EQ(json_and_stdout.out, "");
    EXPECT_FALSE(file_exists(dir.path("out")));
}

// Killed while its private copy of standard input exists, the tool still
// removes it (TearDown checks that the temporary directory is empty).
TEST_F(CliStdio, StopSignalLeavesNoPrivateCopy) {
    test_image large(2000, 2000);
    for (int y = 0; y < large.height; ++y)
        for (int x = 0; x < large.width; ++x) large.set(x, y, {uint8_t(x), uint8_t(y), uint8_t(x ^ y), 255});
    ASSERT_TRUE(write_png(dir.path("large.png"), large));
    for (int stop : {SIGTERM, SIGINT}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int input = open(dir.path("large.png").c_str(), O_RDONLY);
            dup2(input, STDIN_FILENO);
            execl(IMGFILTER_CLI, IMGFILTER_CLI, "oil-paint", "--radius", "30", "-", dir.path("out.png").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // The copy appears once standard input was read whole; the filter then
        // takes seconds on this picture.
        for (int wait = 0; wait < 2000 && list_dir(dir.path("tmp")).empty(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(list_dir(dir.path("tmp")).empty());
        kill(child, stop);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << status;
        EXPECT_TRUE(list_dir(dir.path("tmp")).empty()) << stop;
    }
}
