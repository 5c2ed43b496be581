// Replacing a regular file: the new file keeps the old one's permission bits
// and, where the caller may, its owner and group; a new file gets the mode
// fopen would give it; the temporary is private while written, never seen by
// other calls, gone after a failure or a kill, and closed on exec.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <thread>

#include "imgfilter.h"
#include "fs/descriptor_sink.h"
#include "fs/output_target.h"
#include "fs/replace_file.h"
#include "path_state.h"

namespace {

class ReplacedFileMode : public ::testing::TestWithParam<unsigned> {
protected:
    scratch_dir dir;
};

}  // namespace

TEST_P(ReplacedFileMode, IsKept) {
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
    ASSERT_EQ(chmod(dir.path("out.png").c_str(), GetParam()), 0);
    const path_state before = state_of(dir.path("out.png"));
    ASSERT_EQ(copy_image(dir.path("in.png"), dir.path("out.png")), 1) << imgfilter_last_error();
    const path_state after = state_of(dir.path("out.png"));
    EXPECT_EQ(after.type, "file");
    EXPECT_NE(after.inode, before.inode);  // replaced whole, never written in place
    EXPECT_EQ(after.mode, GetParam());
    EXPECT_EQ(after.owner, before.owner);
    EXPECT_EQ(after.group, before.group);
    EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ReplacedFileMode, ::testing::Values(0600u, 0640u, 0604u, 0660u, 0755u, 0666u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             char name[8];
                             std::snprintf(name, sizeof name, "0%o", info.param);
                             return std::string(name);
                         });

TEST(ReplacedFileOwner, IsKeptWithSetIdBitsWhenTheCallerMayGiveIt) {
    if (geteuid() != 0) GTEST_SKIP() << "files of other users need root";
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    for (unsigned mode : {0640u, 02750u, 04700u}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
        ASSERT_EQ(chown(dir.path("out.png").c_str(), 1234, 5678), 0);
        ASSERT_EQ(chmod(dir.path("out.png").c_str(), mode), 0);
        ASSERT_EQ(copy_image(dir.path("in.png"), dir.path("out.png")), 1) << imgfilter_last_error();
        const path_state after = state_of(dir.path("out.png"));
        EXPECT_EQ(after.owner, 1234u);
        EXPECT_EQ(after.group, 5678u);
        EXPECT_EQ(after.mode, mode);
        EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
        EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png"}));
    }
}

TEST(ReplacedFileOwner, AnotherUsersFileBecomesTheCallersWithoutSetIdBits) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    scratch_dir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 0777), 0);
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    ASSERT_EQ(chmod(dir.path("in.png").c_str(), 0644), 0);
    ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
    ASSERT_EQ(chown(dir.path("out.png").c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(dir.path("out.png").c_str(), 06666), 0);
    EXPECT_EQ(as_nobody([&] { return copy_image(dir.path("in.png"), dir.path("out.png")) == 1 ? 0 : 1; }), 0);
    const path_state after = state_of(dir.path("out.png"));
    EXPECT_EQ(after.owner, 65534u);
    EXPECT_EQ(after.mode, 0666u);
    EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
}

class NewFileMode : public ::testing::TestWithParam<unsigned> {};

TEST_P(NewFileMode, IsTheUmaskApplied) {
    scratch_dir dir;
    ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
    const mode_t previous = umask(GetParam());
    const int result = copy_image(dir.path("in.png"), dir.path("out.png"));
    umask(previous);
    ASSERT_EQ(result, 1) << imgfilter_last_error();
    EXPECT_EQ(state_of(dir.path("out.png")).mode, 0666u & ~GetParam());
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", "out.png"}));
}

INSTANTIATE_TEST_SUITE_P(Umasks, NewFileMode, ::testing::Values(022u, 077u, 002u, 0u, 0277u));

// The replacement unit on its own, with each kind of temporary: what it makes
// while writing, and what remains after a commit or without one.
class Replacement : public ::testing::TestWithParam<temporary_kind> {
protected:
    scratch_dir dir;
    output_target target;
    void find(const std::string& name) { ASSERT_TRUE(find_output_target(dir.path(name).c_str(), &target)); }
    static bool write_text(const replacement& file, const char* text) {
        return write_fully(file.descriptor(), reinterpret_cast<const unsigned char*>(text), std::strlen(text));
    }
};

std::set<int> open_descriptors() {
    std::set<int> fds;
    for (const std::string& name : list_dir("/proc/self/fd")) fds.insert(std::stoi(name));
    return fds;
}

TEST_P(Replacement, IsPrivateCloseOnExecAndVanishesUncommitted) {
    ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
    ASSERT_EQ(chmod(dir.path("out.png").c_str(), 0644), 0);
    find("out.png");
    const tree_state before = snapshot(dir.root());
    {
        const std::set<int> earlier = open_descriptors();
        replacement file;
        ASSERT_EQ(file.open(target, GetParam()), temporary_status::opened);
        for (int fd : open_descriptors()) {
            if (earlier.count(fd)) continue;
            const int flags = fcntl(fd, F_GETFD);
            if (flags < 0) continue;  // the listing's own descriptor, closed again
            EXPECT_TRUE(flags & FD_CLOEXEC) << "descriptor " << fd;
        }
        struct stat info;
        ASSERT_EQ(fstat(file.descriptor(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        ASSERT_TRUE(write_text(file, "partial"));
        // A named temporary is hidden; an anonymous one has no name at all.
        for (const std::string& name : entries(dir.root())) EXPECT_TRUE(name == "out.png" || name[0] == '.') << name;
    }
    EXPECT_EQ(snapshot(dir.root()), before);
}

TEST_P(Replacement, CommitReplacesTheFileAndLeavesNothingElse) {
    ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
    ASSERT_EQ(chmod(dir.path("out.png").c_str(), 0640), 0);
    find("out.png");
    {
        replacement file;
        ASSERT_EQ(file.open(target, GetParam()), temporary_status::opened);
        ASSERT_TRUE(write_text(file, "new content"));
        ASSERT_TRUE(file.commit());
    }
    const path_state after = state_of(dir.path("out.png"));
    EXPECT_EQ(after.mode, 0640u);
    EXPECT_EQ(after.bytes, std::vector<uint8_t>({'n', 'e', 'w', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'}));
    EXPECT_EQ(entries(dir.root()), std::vector<std::string>{"out.png"});
}

TEST_P(Replacement, CommitCreatesAMissingFile) {
    find("new.png");
    {
        replacement file;
        ASSERT_EQ(file.open(target, GetParam()), temporary_status::opened);
        ASSERT_TRUE(write_text(file, "fresh"));
        ASSERT_TRUE(file.commit());
    }
    EXPECT_EQ(state_of(dir.path("new.png")).bytes, std::vector<uint8_t>({'f', 'r', 'e', 's', 'h'}));
    EXPECT_EQ(entries(dir.root()), std::vector<std::string>{"new.png"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, Replacement,
                         ::testing::Values(temporary_kind::anonymous_if_possible, temporary_kind::named),
                         [](const ::testing::TestParamInfo<temporary_kind>& info) {
                             return std::string(info.param == temporary_kind::named ? "Named" : "Anonymous");
                         });

// Two calls at once, one writing x.png, the other x.png.tmp (the name an
// older scheme used for x.png's temporary), the second made while the first
// is still encoding: each file gets its own image.
TEST(ConcurrentOutputs, NeverTakeEachOthersFiles) {
    scratch_dir dir;
    test_image big(1200, 900);
    std::mt19937 random(21);
    for (uint8_t& byte : big.bytes) byte = uint8_t(random());
    ASSERT_TRUE(write_bmp(dir.path("big.bmp"), big));
    ASSERT_TRUE(write_png(dir.path("small.png"), sample_image(2)));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(copy_image(dir.path("big.bmp"), dir.path("x.png")) == 1 ? 0 : 1);
    // Until the first call's temporary shows (if it has a name) or for a
    // moment of its encoding.
    for (int i = 0; i < 30 && !file_exists(dir.path("x.png.tmp")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(copy_image(dir.path("small.png"), dir.path("x.png.tmp")), 1) << imgfilter_last_error();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(load_image(dir.path("x.png")), big);
    EXPECT_EQ(load_image(dir.path("x.png.tmp")), sample_image(2));
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"big.bmp", "small.png", "x.png", "x.png.tmp"}));
}

// Whether the directory's file system makes anonymous files.
bool has_anonymous_files(const std::string& directory) {
    const int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Killed at any moment, a call leaves the old file or the new one and, where
// the file system has anonymous files, no partial temporary.
TEST(KilledCalls, LeaveTheOldOrTheNewFileAndNothingElse) {
    scratch_dir dir;
    const bool anonymous = has_anonymous_files(dir.root());
    test_image big_a(300, 200), big_b(300, 200);
    std::mt19937 random(11);
    for (uint8_t& byte : big_a.bytes) byte = uint8_t(random());
    for (uint8_t& byte : big_b.bytes) byte = uint8_t(random());
    ASSERT_TRUE(write_png(dir.path("a.png"), big_a));
    ASSERT_TRUE(write_png(dir.path("b.png"), big_b));
    ASSERT_EQ(copy_image(dir.path("a.png"), dir.path("out.png")), 1);
    std::mt19937 delays(5);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) copy_image(dir.path(i % 2 ? "a.png" : "b.png"), dir.path("out.png"));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + delays() % 30000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const test_image now = load_image(dir.path("out.png"));
        EXPECT_TRUE(now == big_a || now == big_b);
        // The finished file gets a hidden name for the instant before it is
        // renamed over the output; a kill right there leaves it, complete.
        // A named temporary is hidden too, but may be cut short.
        for (const std::string& name : entries(dir.root())) {
            if (name == "a.png" || name == "b.png" || name == "out.png") continue;
            EXPECT_EQ(name.rfind(".imgfilter-", 0), 0u) << name;
            const test_image left = load_image(dir.path(name));
            if (anonymous) {
                EXPECT_TRUE(left == big_a || left == big_b) << name;
            }
            unlink(dir.path(name).c_str());
        }
    }
}

// The descriptor written in place is not inherited by a program that another
// thread of the host starts meanwhile.
TEST(InPlaceDescriptor, IsCloseOnExec) {
    scratch_dir dir;
    test_image big(512, 512);
    std::mt19937 random(3);
    for (uint8_t& byte : big.bytes) byte = uint8_t(random());
    ASSERT_TRUE(write_bmp(dir.path("big.bmp"), big));
    const std::string fifo = dir.path("out.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    int result = -1;
    std::thread call([&] { result = copy_image(dir.path("big.bmp"), fifo); });
    // Open the reading end only once the library waits for it, then look at
    // the library's descriptor while its write waits for the reader to read.
    // Without waiting, so that a library that never opens the FIFO fails the
    // test instead of hanging it; the library's open still waits for it.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    bool seen = false;
    for (int attempt = 0; attempt < 500 && !seen; ++attempt) {
        for (int fd : open_descriptors()) {
            if (fd == reader) continue;
            char link[4096];
            const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
            if (n <= 0 || std::string(link, size_t(n)) != fifo) continue;
            seen = true;
            EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
        }
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    // Only once the writer is there does an empty read mean it has finished.
    char buffer[65536];
    for (int idle = 0; seen && idle < 2000;) {
        pollfd ready{reader, POLLIN, 0};
        if (poll(&ready, 1, 10) <= 0) {
            ++idle;
            continue;
        }
        const ssize_t n = read(reader, buffer, sizeof buffer);
        if (n == 0) break;
    }
    close(reader);
    call.join();
    EXPECT_EQ(result, 1);
}
