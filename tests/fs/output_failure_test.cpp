// Writes that cannot succeed: no room, no inodes, a file-size limit, a
// directory that takes no new file, a write-protected file. Each fails the
// call, or writes in place where that alone is allowed, and leaves what stood
// at the path exactly as it was. The failures are real: a small full tmpfs
// (root only) or the process's file-size limit.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "imgfilter.h"
#include "path_state.h"

namespace {

std::string write_message(const std::string& path) { return "test: cannot write output file '" + path + "'"; }

// A scratch directory with the input outside and a small tmpfs at mnt/.
class FullFileSystem : public ::testing::TestWithParam<bool> {
protected:
    scratch_dir dir;
    std::string mnt = dir.path("mnt");
    std::unique_ptr<scratch_mount> mounted;

    void SetUp() override {
        ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
        ASSERT_TRUE(write_png(dir.path("in.png"), noise(200, 200, 3)));
        ASSERT_EQ(chmod(dir.path("in.png").c_str(), 0644), 0);
        ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    }
    bool mount_tmpfs(const std::string& options) {
        mounted.reset(new scratch_mount(mnt, options));
        return mounted->mounted();
    }
    void TearDown() override { mounted.reset(); }
};

}  // namespace

// With or without a file at the path already.
TEST_P(FullFileSystem, NoRoomFailsAndLeavesTheDirectoryAsItWas) {
    if (!mount_tmpfs("size=256k,mode=0755")) GTEST_SKIP() << mounted->why_not();
    const std::string out = mnt + "/out.png";
    if (GetParam()) {
        ASSERT_TRUE(write_bytes(out, old_bytes()));
    }
    fill_bytes(mnt);
    const tree_state before = snapshot(mnt);
    EXPECT_EQ(copy_image(dir.path("in.png"), out), 0);
    EXPECT_EQ(std::string(imgfilter_last_error()), write_message(out));
    EXPECT_EQ(snapshot(mnt), before);
}

TEST_P(FullFileSystem, NoInodeForTheTemporaryFailsAndLeavesTheDirectoryAsItWas) {
    if (!mount_tmpfs("size=4m,nr_inodes=16,mode=0755")) GTEST_SKIP() << mounted->why_not();
    const std::string out = mnt + "/out.png";
    if (GetParam()) {
        ASSERT_TRUE(write_bytes(out, old_bytes()));
    }
    fill_inodes(mnt);
    const tree_state before = snapshot(mnt);
    // Writing over the old file in place would need no inode; it is still
    // not done, as a failure midway would cut the file short.
    EXPECT_EQ(copy_image(dir.path("in.png"), out), 0);
    EXPECT_EQ(std::string(imgfilter_last_error()), write_message(out));
    EXPECT_EQ(snapshot(mnt), before);
}

INSTANTIATE_TEST_SUITE_P(ExistingOrNew, FullFileSystem, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "OverAnExistingFile" : "ForANewFile");
                         });

// A directory the caller cannot add to. Only a writable file already there is
// written, in place; run as the user nobody, since root ignores permissions.
class LockedDirectory : public ::testing::Test {
protected:
    scratch_dir dir;
    std::string locked = dir.path("locked");
    std::string out = locked + "/out.png";

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
        ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
        ASSERT_TRUE(write_png(dir.path("in.png"), sample_image()));
        ASSERT_EQ(chmod(dir.path("in.png").c_str(), 0644), 0);
        ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    }
    void lock() { ASSERT_EQ(chmod(locked.c_str(), 0555), 0); }
    void writable_old_file() {
        ASSERT_TRUE(write_bytes(out, old_bytes()));
        ASSERT_EQ(chmod(out.c_str(), 0666), 0);
    }
};

TEST_F(LockedDirectory, AWritableFileIsWrittenInPlace) {
    writable_old_file();
    lock();
    const path_state before = state_of(out);
    EXPECT_EQ(as_nobody([&] { return copy_image(dir.path("in.png"), out) == 1 ? 0 : 1; }), 0);
    const path_state after = state_of(out);
    EXPECT_EQ(after.inode, before.inode);
    EXPECT_EQ(after.mode, 0666u);
    EXPECT_EQ(after.owner, 0u);
    EXPECT_EQ(load_image(out), sample_image());
    EXPECT_EQ(entries(locked), std::vector<std::string>{"out.png"});
}

TEST_F(LockedDirectory, ANewFileIsRefused) {
    lock();
    EXPECT_EQ(as_nobody([&] { return copy_image(dir.path("in.png"), out) == 0 ? 0 : 1; }), 0);
    EXPECT_TRUE(entries(locked).empty());
}

TEST_F(LockedDirectory, AFileThatCannotTakeTheWholeImageIsLeftWhole) {
    // The file-size limit stands in for a full disk; a write cut short used to
    // be answered by deleting the file.
    writable_old_file();
    lock();
    ASSERT_TRUE(write_png(dir.path("big.png"), noise(200, 200, 5)));
    ASSERT_EQ(chmod(dir.path("big.png").c_str(), 0644), 0);
    const tree_state before = snapshot(locked);
    EXPECT_EQ(as_nobody([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit limit;
                  limit.rlim_cur = limit.rlim_max = 4096;
                  setrlimit(RLIMIT_FSIZE, &limit);
                  return copy_image(dir.path("big.png"), out) == 0 ? 0 : 1;
              }),
              0);
    EXPECT_EQ(snapshot(locked), before);
}

TEST_F(LockedDirectory, AFullDiskLeavesTheFileWhole) {
    scratch_mount tmpfs(locked, "size=256k,mode=0755");
    if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why_not();
    writable_old_file();
    ASSERT_TRUE(write_png(dir.path("big.png"), noise(200, 200, 6)));
    ASSERT_EQ(chmod(dir.path("big.png").c_str(), 0644), 0);
    fill_bytes(locked);
    lock();
    const tree_state before = snapshot(locked);
    EXPECT_EQ(as_nobody([&] { return copy_image(dir.path("big.png"), out) == 0 ? 0 : 1; }), 0);
    EXPECT_EQ(snapshot(locked), before);
}

// A file the caller may not write keeps its protection even where the
// directory would let it be replaced.
TEST_F(LockedDirectory, AWriteProtectedFileInAnOpenDirectoryIsRefused) {
    ASSERT_EQ(chmod(locked.c_str(), 0777), 0);
    ASSERT_TRUE(write_bytes(out, old_bytes()));
    ASSERT_EQ(chmod(out.c_str(), 0644), 0);  // root's, read-only to others
    const tree_state before = snapshot(locked);
    EXPECT_EQ(as_nobody([&] { return copy_image(dir.path("in.png"), out) == 0 ? 0 : 1; }), 0);
    EXPECT_EQ(snapshot(locked), before);
}

// Names that stood in the way of the old temporary names no longer matter.
class TemporaryNames : public ::testing::Test {
protected:
    scratch_dir dir;
    void SetUp() override { ASSERT_TRUE(write_png(dir.path("in.png"), sample_image())); }
};

TEST_F(TemporaryNames, PlantedNamesBesideTheOutputAreLeftAlone) {
    // Links from every name a predictable scheme would try, to a victim.
    ASSERT_TRUE(write_bytes(dir.path("victim"), old_bytes()));
    ASSERT_TRUE(write_bytes(dir.path("out.png"), old_bytes()));
    ASSERT_EQ(chmod(dir.path("out.png").c_str(), 0600), 0);
    ASSERT_EQ(symlink("victim", dir.path("out.png.tmp").c_str()), 0);
    for (int i = 1; i < 100; ++i)
        ASSERT_EQ(symlink("victim", dir.path("out.png.tmp" + std::to_string(i)).c_str()), 0);
    tree_state before = snapshot(dir.root());
    ASSERT_EQ(copy_image(dir.path("in.png"), dir.path("out.png")), 1) << imgfilter_last_error();
    tree_state after = snapshot(dir.root());
    // Replaced whole (a new inode), not written in place.
    EXPECT_NE(after["out.png"].inode, before["out.png"].inode);
    EXPECT_EQ(after["out.png"].mode, 0600u);
    EXPECT_EQ(load_image(dir.path("out.png")), sample_image());
    after.erase("out.png");
    before.erase("out.png");
    EXPECT_EQ(after, before);
}

TEST_F(TemporaryNames, AnOutputNameOfTheLongestLengthIsReplacedWhole) {
    const std::string name = std::string(251, 'n') + ".png";  // NAME_MAX, 255 bytes
    ASSERT_TRUE(write_bytes(dir.path(name), old_bytes()));
    ASSERT_EQ(chmod(dir.path(name).c_str(), 0640), 0);
    const path_state before = state_of(dir.path(name));
    ASSERT_EQ(copy_image(dir.path("in.png"), dir.path(name)), 1) << imgfilter_last_error();
    const path_state after = state_of(dir.path(name));
    EXPECT_NE(after.inode, before.inode);
    EXPECT_EQ(after.mode, 0640u);
    EXPECT_EQ(load_image(dir.path(name)), sample_image());
    EXPECT_EQ(entries(dir.root()), (std::vector<std::string>{"in.png", name}));
}
