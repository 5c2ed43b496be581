// What the output path names decides how it is written: symlinks are written
// through and stay; devices, FIFOs, sockets and multiply linked files are
// written in place or refused, never replaced by a regular file; a directory
// is refused before anything is encoded. The input must be a regular file.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "imgfilter.h"
#include "path_state.h"
#include "pipeline.h"

namespace {

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

void make_link(const std::string& target, const std::string& path) { ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0); }

void make_old_file(const std::string& path, mode_t mode = 0600) {
    ASSERT_TRUE(write_bytes(path, old_bytes()));
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// Everything under the directory is as before, except that `written` (relative
// to it) now holds the image; a new file there has a new file's mode, an old
// one keeps its mode and owner.
void expect_only_written(const tree_state& before, const scratch_dir& dir, const std::string& written) {
    tree_state after = snapshot(dir.root());
    ASSERT_EQ(after.count(written), 1u) << written << " was not written";
    const path_state result = after[written];
    EXPECT_EQ(result.type, "file");
    EXPECT_EQ(load_image(dir.path(written)), sample_image());
    const auto old = before.find(written);
    if (old == before.end()) {
        EXPECT_EQ(result.mode, 0666u & ~current_umask());
    } else {
        EXPECT_EQ(result.mode, old->second.mode);
        EXPECT_EQ(result.owner, old->second.owner);
        EXPECT_EQ(result.group, old->second.group);
    }
    after.erase(written);
    tree_state rest = before;
    rest.erase(written);
    EXPECT_EQ(after, rest) << "something else changed or appeared";
}

struct link_case {
    const char* name;
    std::function<void(const scratch_dir&)> setup;
    const char* output;   // the path the call is given
    const char* written;  // the file that must receive the image
};

std::ostream& operator<<(std::ostream& out, const link_case& c) { return out << c.name; }

const link_case k_link_cases[] = {
    {"LinkToAFile",
     [](const scratch_dir& d) {
         make_old_file(d.path("real.png"));
         make_link("real.png", d.path("out.png"));
     },
     "out.png", "real.png"},
    {"ChainOfLinks",
     [](const scratch_dir& d) {
         make_old_file(d.path("real.png"), 0640);
         make_link("mid.png", d.path("out.png"));
         make_link(d.path("real.png"), d.path("mid.png"));
     },
     "out.png", "real.png"},
    {"RelativeLinkInAnotherDirectory",
     [](const scratch_dir& d) {
         ASSERT_EQ(mkdir(d.path("sub").c_str(), 0755), 0);
         ASSERT_EQ(mkdir(d.path("other").c_str(), 0755), 0);
         make_old_file(d.path("sub/real.png"));
         // Taken from the link's own directory, not from the caller's.
         make_link("../sub/real.png", d.path("other/out.png"));
     },
     "other/out.png", "sub/real.png"},
    {"DanglingLinkCreatesItsTarget",
     [](const scratch_dir& d) { make_link("new.png", d.path("out.png")); },
     "out.png", "new.png"},
    {"DanglingChainAcrossDirectories",
     [](const scratch_dir& d) {
         ASSERT_EQ(mkdir(d.path("sub").c_str(), 0755), 0);
         ASSERT_EQ(mkdir(d.path("other").c_str(), 0755), 0);
         make_link("../sub/mid.png", d.path("other/out.png"));
         make_link("new.png", d.path("sub/mid.png"));
     },
     "other/out.png", "sub/new.png"},
    {"LinkThroughALinkedDirectory",
     [](const scratch_dir& d) {
         ASSERT_EQ(mkdir(d.path("sub").c_str(), 0755), 0);
         make_old_file(d.path("sub/real.png"));
         make_link("sub", d.path("alias"));
         make_link("real.png", d.path("sub/out.png"));
     },
     "alias/out.png", "sub/real.png"},
};

// Reads a FIFO in a child process (which gives up after a while, should the
// FIFO never get a writer) and hands back what it read, at most `limit` bytes.
class fifo_reader {
public:
    fifo_reader(const std::string& path, size_t limit) {
        if (pipe(fds_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            alarm(20);
            close(fds_[0]);
            const int fifo = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            char buffer[4096];
            for (size_t total = 0; total < limit;) {
                const ssize_t n = read(fifo, buffer, std::min(sizeof buffer, limit - total));
                if (n <= 0) break;
                if (write(fds_[1], buffer, size_t(n)) != n) break;
                total += size_t(n);
            }
            _exit(0);
        }
        close(fds_[1]);
    }
    std::vector<uint8_t> received() {
        std::vector<uint8_t> bytes;
        char buffer[4096];
        for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
        close(fds_[0]);
        waitpid(pid_, nullptr, 0);
        return bytes;
    }

private:
    int fds_[2] = {-1, -1};
    pid_t pid_ = -1;
};

class OutputSymlinks : public ::testing::TestWithParam<link_case> {
protected:
    scratch_dir dir;
};

}  // namespace

TEST_P(OutputSymlinks, AreWrittenThroughAndStay) {
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    GetParam().setup(dir);
    const tree_state before = snapshot(dir.root());
    ASSERT_EQ(copy_image(dir.path("in.png"), dir.path(GetParam().output)), 1) << imgfilter_last_error();
    expect_only_written(before, dir, GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputSymlinks, ::testing::ValuesIn(k_link_cases),
                         [](const ::testing::TestParamInfo<link_case>& info) { return std::string(info.param.name); });

TEST(OutputSymlinkLoop, IsRefusedAndLeftAsItWas) {
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    make_link("b.png", dir.path("a.png"));
    make_link("a.png", dir.path("b.png"));
    const tree_state before = snapshot(dir.root());
    EXPECT_EQ(copy_image(dir.path("in.png"), dir.path("a.png")), 0);
    EXPECT_EQ(snapshot(dir.root()), before);
}

// Things that are not a lone regular file: the call writes into them as
// opening them for writing would, or fails; each stays what it was.
class OutputSpecialFiles : public ::testing::Test {
protected:
    scratch_dir dir;
    void SetUp() override { ASSERT_TRUE(write_png(dir.path("in.png"), sample_image())); }
    int run(const std::string& output) { return copy_image(dir.path("in.png"), dir.path(output)); }
};

TEST_F(OutputSpecialFiles, AHardLinkedFileIsWrittenInPlaceForBothNames) {
    make_old_file(dir.path("out.png"), 0640);
    ASSERT_EQ(link(dir.path("out.png").c_str(), dir.path("twin.png").c_str()), 0);
    const path_state before = state_of(dir.path("out.png"));
    ASSERT_EQ(run("out.png"), 1) << imgfilter_last_error();
    const path_state after = state_of(dir.path("out.png"));
    EXPECT_EQ(after.inode, before.inode);
    EXPECT_EQ(after.links, 2u);
    EXPECT_EQ(after.mode, 0640u);
    EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
    EXPECT_EQ(state_of(dir.path("twin.png")), after);
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png", "twin.png"}));
}

TEST_F(OutputSpecialFiles, AShorterImageOverALongerHardLinkedFileLeavesNoTail) {
    ASSERT_TRUE(write_bytes(dir.path("out.png"), std::vector<uint8_t>(100000, 'x')));
    ASSERT_EQ(link(dir.path("out.png").c_str(), dir.path("twin.png").c_str()), 0);
    ASSERT_EQ(run("out.png"), 1) << imgfilter_last_error();
    EXPECT_EQ(read_bytes(dir.path("twin.png")), read_bytes(dir.path("in.png")));
}

TEST_F(OutputSpecialFiles, AFifoReceivesTheFileAndStaysAFifo) {
    ASSERT_EQ(mkfifo(dir.path("out.png").c_str(), 0644), 0);
    const path_state before = state_of(dir.path("out.png"));
    fifo_reader reader(dir.path("out.png"), SIZE_MAX);
    EXPECT_EQ(run("out.png"), 1) << imgfilter_last_error();
    EXPECT_EQ(reader.received(), read_bytes(dir.path("in.png")));
    EXPECT_EQ(state_of(dir.path("out.png")), before);
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(OutputSpecialFiles, AFifoWhoseReaderLeavesFailsTheCallNotTheProcess) {
    ASSERT_EQ(mkfifo(dir.path("out.png").c_str(), 0644), 0);
    // Large enough that the pipe's buffer fills before the reader goes away.
    test_image big(512, 512);
    std::mt19937 random(7);
    for (uint8_t& byte : big.bytes) byte = uint8_t(random());
    ASSERT_TRUE(write_bmp(dir.path("big.bmp"), big));
    fifo_reader reader(dir.path("out.png"), 16);
    EXPECT_EQ(copy_image(dir.path("big.bmp"), dir.path("out.png")), 0);
    EXPECT_EQ(reader.received().size(), 16u);
    EXPECT_EQ(state_of(dir.path("out.png")).type, "fifo");
}

TEST_F(OutputSpecialFiles, ACharacterDeviceIsWrittenAndStaysADevice) {
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    // The null device, under a name of our own.
    if (mknod(dir.path("null.png").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    const path_state before = state_of(dir.path("null.png"));
    EXPECT_EQ(run("null.png"), 1) << imgfilter_last_error();
    EXPECT_EQ(state_of(dir.path("null.png")), before);
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "null.png"}));
}

TEST_F(OutputSpecialFiles, ALinkToTheCallersStdoutWritesToIt) {
    // What /dev/stdout is: a link to the process's descriptor 1, here a pipe.
    make_link("/proc/self/fd/1", dir.path("stdout.png"));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        _exit(run("stdout.png") == 1 ? 0 : 1);
    }
    close(fds[1]);
    std::vector<uint8_t> received;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) received.insert(received.end(), buffer, buffer + n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(received, read_bytes(dir.path("in.png")));
    EXPECT_EQ(state_of(dir.path("stdout.png")).type, "link");
    EXPECT_EQ(state_of(dir.path("stdout.png")).link_text, "/proc/self/fd/1");
}

TEST_F(OutputSpecialFiles, ASocketIsRefusedAndStays) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir.path("out.png");
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const path_state before = state_of(path);
    EXPECT_EQ(run("out.png"), 0);
    EXPECT_EQ(std::string(imgfilter_last_error()), "test: cannot write output file '" + path + "'");
    EXPECT_EQ(state_of(path), before);
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png"}));
    close(fd);
}

// A directory, or a path ending in '/', is refused before the image is
// encoded: the image given here has no pixels to read.
class OutputDirectories : public ::testing::TestWithParam<const char*> {};

TEST_P(OutputDirectories, AreRefusedBeforeEncoding) {
    scratch_dir dir;
    ASSERT_EQ(mkdir(dir.path("sub").c_str(), 0755), 0);
    make_old_file(dir.path("file.png"));
    make_link("sub", dir.path("sublink"));
    const tree_state before = snapshot(dir.root());
    const std::string output = dir.path(GetParam());
    EXPECT_EXIT(std::exit(write_output_file(output.c_str(), image_format::png, filter_image{1, 1, nullptr}) ? 1 : 0),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(snapshot(dir.root()), before);
}

INSTANTIATE_TEST_SUITE_P(Paths, OutputDirectories,
                         ::testing::Values("sub", "sub/", "sublink", "sublink/", "file.png/", "missing/", "sub/."));

TEST(OutputDirectories, RefusalIsAWriteFailureForThePipeline) {
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    EXPECT_EQ(copy_image(dir.path("in.png"), dir.root() + "/"), 0);
    EXPECT_EQ(std::string(imgfilter_last_error()), "test: cannot write output file '" + dir.root() + "/'");
}

// An input that is not a regular file is refused at once: reading a FIFO
// would wait for a writer that may never come.
class InputKinds : public ::testing::TestWithParam<const char*> {};

TEST_P(InputKinds, AreRefusedWithoutBlocking) {
    scratch_dir dir;
    const std::string kind = GetParam();
    std::string input = dir.path("input");
    int socket_fd = -1;
    if (kind == "fifo") {
        ASSERT_EQ(mkfifo(input.c_str(), 0644), 0);
    } else if (kind == "link to fifo") {
        ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0644), 0);
        make_link("fifo", input);
    } else if (kind == "directory") {
        ASSERT_EQ(mkdir(input.c_str(), 0755), 0);
    } else if (kind == "socket") {
        socket_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, input.c_str(), input.size() + 1);
        ASSERT_EQ(bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else {
        input = "/dev/zero";
    }
    EXPECT_EXIT(
        {
            alarm(10);  // a blocked read ends the child with SIGALRM
            const bool refused = copy_image(input, dir.path("out.png")) == 0 &&
                                 std::string(imgfilter_last_error()) == "test: cannot read input file '" + input + "'";
            std::exit(refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(file_exists(dir.path("out.png")));
    if (socket_fd >= 0) close(socket_fd);
}

INSTANTIATE_TEST_SUITE_P(Kinds, InputKinds, ::testing::Values("fifo", "link to fifo", "directory", "socket", "char device"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

TEST(InputKinds, ALinkToARegularFileIsRead) {
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    make_link("in.png", dir.path("link.png"));
    ASSERT_EQ(copy_image(dir.path("link.png"), dir.path("out.png")), 1) << imgfilter_last_error();
    EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
}
