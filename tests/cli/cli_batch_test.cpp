// The tool's batch mode: many inputs, one output directory, worker processes,
// a progress bar on terminals only, a report of every failure, and a clean
// stop on SIGINT, SIGTERM and SIGHUP.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cli_run.h"

namespace {

class CliBatch : public ::testing::Test {
protected:
    scratch_dir dir;

    void SetUp() override {
        test_image image(7, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) image.set(x, y, {uint8_t(x * 30), uint8_t(y * 50), uint8_t(x * y * 7), 255});
        ASSERT_TRUE(write_png(dir.path("a.png"), image));
        ASSERT_TRUE(write_bmp(dir.path("b.bmp"), image));
        ASSERT_TRUE(write_jpg(dir.path("c.jpg"), image));
        ASSERT_TRUE(write_bytes(dir.path("junk.png"), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}));
    }
    cli_outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    std::string q(const std::string& name) const { return quoted(dir, name); }
    std::string inputs() const { return q("a.png") + " " + q("b.bmp") + " " + q("c.jpg"); }
};

std::vector<std::string> sorted_listing(const std::string& path) {
    std::vector<std::string> names = list_dir(path);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    return result;
}

// Runs the tool with stdout and stderr on a pseudo-terminal of the given size
// (the system's default when NULL) and returns all it drew there.
std::string on_terminal(std::vector<const char*> argv, const winsize* size, int* status) {
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, size);
    if (pid == 0) {
        execv(argv[0], const_cast<char**>(argv.data()));
        _exit(127);
    }
    std::string screen;
    if (pid < 0) return screen;
    char buffer[256];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, size_t(n));
    close(terminal);
    waitpid(pid, status, 0);
    return screen;
}

}  // namespace

TEST_F(CliBatch, OutputsAreNamedAfterInputsAndEqualSingleRuns) {
    const cli_outcome result = run("blur --radius 1.5 -o " + q("out") + " " + inputs());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("imgfilter: 3 of 3 files written to " + dir.path("out") + ", 0 failed (", 0), 0u)
        << result.out;
    EXPECT_EQ(sorted_listing(dir.path("out")), (std::vector<std::string>{"a.png", "b.bmp", "c.jpg"}));
    for (const char* name : {"a.png", "b.bmp", "c.jpg"}) {
        ASSERT_EQ(run("blur --radius 1.5 " + q(name) + " " + q(std::string("single-") + name)).status, 0);
        EXPECT_EQ(read_bytes(dir.path("out/") + name), read_bytes(dir.path(std::string("single-") + name))) << name;
    }
}

TEST_F(CliBatch, FormatReplacesTheExtensionAndChoosesTheEncoder) {
    ASSERT_TRUE(write_bytes(dir.path("my.photo.png"), read_bytes(dir.path("a.png"))));
    ASSERT_TRUE(write_bytes(dir.path(".hidden"), read_bytes(dir.path("a.png"))));
    ASSERT_TRUE(write_bytes(dir.path("noext"), read_bytes(dir.path("a.png"))));
    const cli_outcome result = run("emboss --format=jpg -o " + q("out") + " " + inputs() + " " + q("my.photo.png") +
                                   " " + q(".hidden") + " " + q("noext"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sorted_listing(dir.path("out")),
              (std::vector<std::string>{".hidden.jpg", "a.jpg", "b.jpg", "c.jpg", "my.photo.jpg", "noext.jpg"}));
    for (const std::string& name : list_dir(dir.path("out"))) EXPECT_EQ(file_kind(dir.path("out/") + name), "jpeg");
}

TEST_F(CliBatch, EveryFailureIsListedWithItsMessageAndTheRestIsWritten) {
    const std::string arguments = "--block-size 2 --format png -o " + q("out") + " " + q("a.png") + " " +
                                  q("missing.png") + " " + q("b.bmp") + " " + q("junk.png") + " " + q("a.png");
    for (const char* jobs : {"", "-j 1", "-j 3", "--jobs=8"}) {
        SCOPED_TRACE(jobs);
        const cli_outcome result = run(std::string("pixelate ") + jobs + " " + arguments);
        EXPECT_EQ(result.status, 1);
        // Listed in the order of the command line, whatever order the workers finished in.
        EXPECT_EQ(lines(result.err),
                  (std::vector<std::string>{
                      "imgfilter: " + dir.path("missing.png") + ": No such file or directory (pixelate: cannot "
                          "read input file '" + dir.path("missing.png") + "')",
                      "imgfilter: " + dir.path("junk.png") + ": pixelate: unsupported image format for '" +
                          dir.path("junk.png") + "'",
                      "imgfilter: " + dir.path("a.png") + ": '" + dir.path("out/a.png") + "' is already the output of '" +
                          dir.path("a.png") + "'",
                  }));
        EXPECT_EQ(result.out.rfind("imgfilter: 2 of 5 files written to " + dir.path("out") + ", 3 failed (", 0), 0u)
            << result.out;
        EXPECT_EQ(sorted_listing(dir.path("out")), (std::vector<std::string>{"a.png", "b.png"}));
    }
}

TEST_F(CliBatch, AParameterRefusedByTheLibraryStopsTheRunBeforeAnyFile) {
    std::string many;
    for (int i = 0; i < 20; ++i) many += " " + q("a.png");
    const cli_outcome result = run("denoise --strength 11 -q -j 2 -o " + q("out") + many);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    // Said once, in the library's words, followed by the usage lines.
    EXPECT_EQ(result.err.rfind("imgfilter: denoise: strength 11 out of range 1..10\nusage: imgfilter denoise", 0), 0u)
        << result.err;
    EXPECT_FALSE(file_exists(dir.path("out")));
}

TEST_F(CliBatch, OutputDirectoryIsCreatedOrRefused) {
    EXPECT_EQ(run("emboss -o " + q("new") + " " + q("a.png")).status, 0);
    EXPECT_TRUE(file_exists(dir.path("new/a.png")));

    const cli_outcome file = run("emboss -o " + q("a.png") + " " + q("b.bmp"));
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.err, "imgfilter: '" + dir.path("a.png") + "' exists and is not a directory\n");

    const cli_outcome deep = run("emboss -o " + q("no/such/dir") + " " + q("b.bmp"));
    EXPECT_EQ(deep.status, 1);
    EXPECT_EQ(deep.err.rfind("imgfilter: cannot create output directory '" + dir.path("no/such/dir") + "': ", 0), 0u);
}

TEST_F(CliBatch, DoubleDashEndsTheOptions) {
    ASSERT_TRUE(write_bytes(dir.path("-dash.png"), read_bytes(dir.path("a.png"))));
    const cli_outcome result = run("edge-detect -o " + q("out") + " -- " + q("-dash.png"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(file_exists(dir.path("out/-dash.png")));
}

TEST_F(CliBatch, NoProgressBarOffATerminal) {
    const cli_outcome result = run("emboss -j 2 -o " + q("out") + " " + inputs());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
}

TEST_F(CliBatch, ProgressBarOnATerminal) {
    // The tool runs with stdout and stderr on a pseudo-terminal.
    const std::string out_dir = dir.path("out"), a = dir.path("a.png"), b = dir.path("b.bmp");
    for (bool quiet : {false, true}) {
        int status = 0;
        const std::string screen = on_terminal(
            {IMGFILTER_CLI, "emboss", "-o", out_dir.c_str(), a.c_str(), b.c_str(), quiet ? "--quiet" : "-j1"},
            nullptr, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        if (quiet) {
            EXPECT_EQ(screen, "");
        } else {
            EXPECT_NE(screen.find("\r[" + std::string(30, '.') + "] 0/2  0:"), std::string::npos) << screen;
            EXPECT_NE(screen.find("\r[" + std::string(30, '#') + "] 2/2  "), std::string::npos) << screen;
            EXPECT_NE(screen.find("imgfilter: 2 of 2 files written to " + out_dir + ", 0 failed"), std::string::npos);
        }
    }
}

TEST_F(CliBatch, ProgressBarFitsANarrowTerminal) {
    // Long names and little room: every redraw must stay on its one line.
    const std::string long_name = dir.path(std::string(60, 'n') + ".png");
    ASSERT_TRUE(write_bytes(long_name, read_bytes(dir.path("a.png"))));
    const std::string out_dir = dir.path("out"), a = dir.path("a.png");
    for (unsigned short columns : {20, 40, 79}) {
        SCOPED_TRACE(columns);
        winsize size{};
        size.ws_col = columns;
        size.ws_row = 24;
        int status = 0;
        const std::string screen = on_terminal({IMGFILTER_CLI, "emboss", "-o", out_dir.c_str(), "--overwrite",
                                                long_name.c_str(), a.c_str(), long_name.c_str()},
                                               &size, &status);
        // Each redraw: carriage return, the line, erase to its end.
        std::size_t draws = 0;
        for (std::size_t at = 0; (at = screen.find('\r', at)) != std::string::npos; ++at) {
            const std::size_t end = screen.find("\033[K", at);
            if (end == std::string::npos) continue;
            ++draws;
            EXPECT_LT(end - at - 1, columns) << screen.substr(at + 1, end - at - 1);
        }
        EXPECT_GE(draws, 2u);
    }
}

TEST_F(CliBatch, BadBatchCommandLinesAreExitTwo) {
    for (const std::string& arguments :
         {std::string("emboss -o"), "emboss -o " + q("out"), "emboss --format gif -o " + q("out") + " " + q("a.png"),
          "emboss -j 0 -o " + q("out") + " " + q("a.png"), "emboss -j x -o " + q("out") + " " + q("a.png"),
          "emboss --format png " + q("a.png") + " " + q("b.png"), "emboss -j 2 " + q("a.png") + " " + q("b.png"),
          "emboss --quiet " + q("a.png") + " " + q("b.png"), "emboss -o '' " + q("a.png")}) {
        const cli_outcome result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find("usage: imgfilter emboss"), std::string::npos) << arguments;
    }
    EXPECT_FALSE(file_exists(dir.path("out")));
}

namespace {

// Processes of the group that still run (zombies waiting for a parent to reap
// them do not count: they write nothing).
int live_processes_in_group(pid_t group) {
    int count = 0;
    for (const std::string& name : list_dir("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::vector<uint8_t> bytes = read_bytes("/proc/" + name + "/stat");
        const std::string stat(bytes.begin(), bytes.end());
        const std::size_t end_of_name = stat.rfind(')');
        if (end_of_name == std::string::npos) continue;
        char state = 0;
        int parent = 0, process_group = 0;
        if (std::sscanf(stat.c_str() + end_of_name + 1, " %c %d %d", &state, &parent, &process_group) != 3) continue;
        if (process_group == group && state != 'Z') ++count;
    }
    return count;
}

bool group_ends_within_seconds(pid_t group, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (live_processes_in_group(group) == 0) return true;
        usleep(10000);
    }
    return false;
}

// A batch run of slow filtering in a process group of its own, as a shell
// starts a job, with its output in OUT and its messages in the scratch dir.
class slow_batch {
public:
    static constexpr int k_files = 8;
    scratch_dir dir;
    pid_t pid = -1;

    explicit slow_batch(int side) {
        test_image image(side, side * 3 / 4);
        std::mt19937 random(9);
        for (uint8_t& byte : image.bytes) byte = uint8_t(random());
        write_png(dir.path("in0.png"), image);
        const std::vector<uint8_t> bytes = read_bytes(dir.path("in0.png"));
        for (int i = 1; i < k_files; ++i) write_bytes(dir.path("in" + std::to_string(i) + ".png"), bytes);
    }

    void start() {
        std::vector<std::string> inputs;
        for (int i = 0; i < k_files; ++i) inputs.push_back(dir.path("in" + std::to_string(i) + ".png"));
        const std::string out = dir.path("out"), out_file = dir.path("stdout"), err_file = dir.path("stderr");
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            freopen("/dev/null", "r", stdin);
            freopen(out_file.c_str(), "w", stdout);
            freopen(err_file.c_str(), "w", stderr);
            std::vector<const char*> argv = {IMGFILTER_CLI, "oil-paint", "--radius", "30", "-j", "2", "-o", out.c_str()};
            for (const std::string& input : inputs) argv.push_back(input.c_str());
            argv.push_back(nullptr);
            execv(IMGFILTER_CLI, const_cast<char**>(argv.data()));
            _exit(127);
        }
        setpgid(pid, pid);
    }

    // The tool's exit status, -1 when it did not exit.
    int wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string err() const {
        const std::vector<uint8_t> bytes = read_bytes(dir.path("stderr"));
        return std::string(bytes.begin(), bytes.end());
    }
};

struct stop_case {
    const char* name;
    int signal;
    bool to_group;  // as the terminal sends Ctrl-C: to the tool and its workers
};

class CliBatchStop : public ::testing::TestWithParam<stop_case> {};

}  // namespace

TEST_P(CliBatchStop, KeepsWhatWasWrittenLeavesNothingPartialAndNoWorker) {
    slow_batch batch(500);
    batch.start();
    ASSERT_GT(batch.pid, 0);
    const std::string out = batch.dir.path("out");
    for (int i = 0; i < 6000 && list_dir(out).empty(); ++i) usleep(10000);
    ASSERT_FALSE(list_dir(out).empty()) << "no output appeared";
    kill(GetParam().to_group ? -batch.pid : batch.pid, GetParam().signal);
    EXPECT_EQ(batch.wait(), 128 + GetParam().signal) << batch.err();
    EXPECT_TRUE(group_ends_within_seconds(batch.pid, 10));

    const std::vector<std::string> written = sorted_listing(out);
    ASSERT_LT(written.size(), std::size_t(slow_batch::k_files)) << "the run ended before the signal";
    for (const std::string& name : written) {
        EXPECT_NE(name[0], '.') << "a temporary was left: " << name;
        EXPECT_EQ(load_image(out + "/" + name).width, 500) << name;
    }
    const std::string summary = "imgfilter: stopped by signal " + std::to_string(GetParam().signal) + " (" +
                                strsignal(GetParam().signal) + "): " + std::to_string(written.size()) + " of " +
                                std::to_string(slow_batch::k_files) + " files written to " + out + "\n";
    EXPECT_EQ(batch.err(), summary);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliBatchStop,
                         ::testing::Values(stop_case{"InterruptFromTheTerminal", SIGINT, true},
                                           stop_case{"Terminate", SIGTERM, false}, stop_case{"Hangup", SIGHUP, false}),
                         [](const ::testing::TestParamInfo<stop_case>& info) { return std::string(info.param.name); });

TEST(CliBatchKilled, TakesItsWorkersWithIt) {
    // Large enough that no worker finishes its file before the kill.
    slow_batch batch(1200);
    batch.start();
    ASSERT_GT(batch.pid, 0);
    // Killed as soon as its workers run.
    for (int i = 0; i < 6000 && live_processes_in_group(batch.pid) < 3; ++i) usleep(1000);
    kill(batch.pid, SIGKILL);
    EXPECT_EQ(batch.wait(), -1);
    EXPECT_TRUE(group_ends_within_seconds(batch.pid, 60));
    // A worker that went on after the tool died would have written its file.
    EXPECT_TRUE(list_dir(batch.dir.path("out")).empty());
}
