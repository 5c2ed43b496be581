// The tool carries EXIF and ICC from JPEG and PNG inputs into JPEG and PNG
// outputs, never the thumbnail, maker notes or (unless asked) the location,
// and leaves the library's own bytes as they are.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "cli_run.h"
#include "exif_sample.h"
#include "path_state.h"

namespace {

std::string text_of(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<uint8_t> bytes_of(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string inflated(const std::string& compressed) {
    std::string out(1 << 20, '\0');
    uLongf size = out.size();
    if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                   uLong(compressed.size())) != Z_OK)
        return {};
    out.resize(size);
    return out;
}

// The ICC profile split into APP2 segments of at most 60000 bytes each.
std::vector<std::pair<unsigned, std::string>> icc_segments(const std::string& profile) {
    std::vector<std::pair<unsigned, std::string>> segments;
    const std::size_t piece = 60000, count = (profile.size() + piece - 1) / piece;
    for (std::size_t i = 0; i < count; ++i)
        segments.push_back({0xE2, std::string("ICC_PROFILE\0", 12) + char(i + 1) + char(count) +
                                      profile.substr(i * piece, piece)});
    return segments;
}

std::string icc_from_jpeg(const std::string& jpeg) {
    std::string profile;
    for (const std::string& segment : jpeg_segments(jpeg, 0xE2))
        if (segment.compare(0, 12, std::string("ICC_PROFILE\0", 12)) == 0) profile += segment.substr(14);
    return profile;
}

std::string exif_from_jpeg(const std::string& jpeg) {
    for (const std::string& segment : jpeg_segments(jpeg, 0xE1))
        if (segment.compare(0, 6, std::string("Exif\0\0", 6)) == 0) return segment.substr(6);
    return {};
}

std::string icc_from_png(const std::string& png) {
    const std::vector<std::string> chunks = png_chunks(png, "iCCP");
    if (chunks.size() != 1) return {};
    const std::size_t zero = chunks[0].find('\0');
    return inflated(chunks[0].substr(zero + 2));
}

class CliMetadata : public ::testing::Test {
protected:
    scratch_dir dir;
    const std::string profile = sample_icc_profile(100000);  // two APP2 segments in a JPEG

    void SetUp() override {
        test_image image(9, 7);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) image.set(x, y, {uint8_t(x * 28), uint8_t(y * 36), uint8_t(x * y * 4), 255});
        ASSERT_TRUE(write_jpg(dir.path("plain.jpg"), image));
        ASSERT_TRUE(write_png(dir.path("plain.png"), image));
        std::vector<std::pair<unsigned, std::string>> segments = {{0xE1, std::string("Exif\0\0", 6) + phone_exif()}};
        for (const auto& segment : icc_segments(profile)) segments.push_back(segment);
        ASSERT_TRUE(write_bytes(dir.path("photo.jpg"),
                                bytes_of(with_jpeg_segments(text_of(read_bytes(dir.path("plain.jpg"))), segments))));
        uLongf size = compressBound(uLong(profile.size()));
        std::string compressed(size, '\0');
        ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&compressed[0]), &size,
                           reinterpret_cast<const Bytef*>(profile.data()), uLong(profile.size())),
                  Z_OK);
        compressed.resize(size);
        ASSERT_TRUE(write_bytes(
            dir.path("photo.png"),
            bytes_of(with_png_chunks(text_of(read_bytes(dir.path("plain.png"))),
                                     {{"iCCP", std::string("Display P3\0\0", 12) + compressed},
                                      {"eXIf", phone_exif(false)}}))));
    }
    cli_outcome run(const std::string& arguments) { return run_cli(dir, arguments); }
    std::string q(const std::string& name) const { return quoted(dir, name); }
    std::string file(const std::string& name) const { return text_of(read_bytes(dir.path(name))); }
};

// What the usual policy keeps and drops, for a block from either byte order.
void expect_cleaned(const std::string& exif, bool with_location) {
    ASSERT_FALSE(exif.empty());
    const exif_directory ifd0 = read_exif_directory(exif);
    ASSERT_TRUE(ifd0.ok);
    ASSERT_NE(ifd0.find(0x0112), nullptr);
    EXPECT_EQ(exif_number(exif, *ifd0.find(0x0112)), 6u);  // the photo still stands upright
    ASSERT_NE(ifd0.find(0x8298), nullptr);
    EXPECT_EQ(ifd0.find(0x8298)->value, std::string("(c) A. Photographer\0", 20));
    ASSERT_NE(ifd0.find(0x0132), nullptr);
    EXPECT_EQ(ifd0.next, 0u);  // no thumbnail directory
    const exif_field* exif_pointer = ifd0.find(0x8769);
    ASSERT_NE(exif_pointer, nullptr);
    const exif_directory sub = read_exif_directory(exif, exif_number(exif, *exif_pointer));
    ASSERT_TRUE(sub.ok);
    EXPECT_NE(sub.find(0x9003), nullptr);
    EXPECT_EQ(sub.find(0x927C), nullptr);
    EXPECT_EQ(exif.find(k_thumbnail_marker), std::string::npos);
    EXPECT_EQ(exif.find(k_maker_note_marker), std::string::npos);
    const bool little = exif[0] == 'I';
    EXPECT_EQ(ifd0.find(0x8825) != nullptr, with_location);
    EXPECT_EQ(exif.find(latitude_bytes(little)) != std::string::npos, with_location);
    if (with_location) {
        const exif_directory gps = read_exif_directory(exif, exif_number(exif, *ifd0.find(0x8825)));
        ASSERT_TRUE(gps.ok);
        ASSERT_NE(gps.find(0x0002), nullptr);
        EXPECT_EQ(gps.find(0x0002)->value, latitude_bytes(little));
    }
}

}  // namespace

TEST_F(CliMetadata, JpegKeepsExifAndIccWithoutThumbnailOrLocation) {
    ASSERT_EQ(run("blur --radius 1 " + q("photo.jpg") + " " + q("out.jpg")).status, 0);
    ASSERT_EQ(run("blur --radius 1 --strip " + q("photo.jpg") + " " + q("stripped.jpg")).status, 0);
    const std::string out = file("out.jpg");
    expect_cleaned(exif_from_jpeg(out), false);
    EXPECT_EQ(icc_from_jpeg(out), profile);
    EXPECT_EQ(out.find(k_thumbnail_marker), std::string::npos);
    // The library's bytes are all there, unchanged: only segments were added.
    EXPECT_EQ(without_jpeg_metadata(out), file("stripped.jpg"));
    EXPECT_TRUE(jpeg_segments(file("stripped.jpg"), 0xE1).empty());
    EXPECT_TRUE(jpeg_segments(file("stripped.jpg"), 0xE2).empty());
    ASSERT_EQ(run("blur --radius 1 " + q("plain.jpg") + " " + q("library.jpg")).status, 0);
    EXPECT_EQ(file("stripped.jpg"), file("library.jpg"));
}

TEST_F(CliMetadata, AProfileReachingFarIntoTheFileIsCarriedWhole) {
    // Past the tool's first read of the input's start: it reads on.
    const std::string large = sample_icc_profile(1500000);
    ASSERT_TRUE(write_bytes(dir.path("large.jpg"),
                            bytes_of(with_jpeg_segments(file("plain.jpg"), icc_segments(large)))));
    ASSERT_EQ(run("emboss " + q("large.jpg") + " " + q("out.jpg")).status, 0);
    EXPECT_EQ(icc_from_jpeg(file("out.jpg")), large);
}

TEST_F(CliMetadata, LocationOnlyWhenAskedForAndThumbnailNever) {
    ASSERT_EQ(run("emboss --keep-metadata=all " + q("photo.jpg") + " " + q("all.jpg")).status, 0);
    expect_cleaned(exif_from_jpeg(file("all.jpg")), true);
    ASSERT_EQ(run("emboss --keep-metadata all " + q("photo.png") + " " + q("all.png")).status, 0);
    ASSERT_EQ(png_chunks(file("all.png"), "eXIf").size(), 1u);
    expect_cleaned(png_chunks(file("all.png"), "eXIf")[0], true);
}

TEST_F(CliMetadata, AcrossContainers) {
    const struct {
        const char* input;
        const char* output;
    } cases[] = {{"photo.jpg", "out.png"}, {"photo.png", "out.jpg"}, {"photo.png", "out2.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
        ASSERT_EQ(run(std::string("pixelate --block-size 2 ") + q(c.input) + " " + q(c.output)).status, 0);
        ASSERT_EQ(run(std::string("pixelate --block-size 2 --strip ") + q(c.input) + " " + q("s-" + std::string(c.output))).status, 0);
        const std::string out = file(c.output);
        if (file_kind(dir.path(c.output)) == "png") {
            ASSERT_EQ(png_chunks(out, "eXIf").size(), 1u);
            expect_cleaned(png_chunks(out, "eXIf")[0], false);
            EXPECT_EQ(icc_from_png(out), profile);
            EXPECT_EQ(without_png_metadata(out), file("s-" + std::string(c.output)));
        } else {
            expect_cleaned(exif_from_jpeg(out), false);
            EXPECT_EQ(icc_from_jpeg(out), profile);
            EXPECT_EQ(without_jpeg_metadata(out), file("s-" + std::string(c.output)));
        }
    }
}

// Metadata the tool cannot read costs the file nothing but that metadata:
// the image is filtered, what could be read is carried, and one line says
// what was left out, in batch mode too.
TEST_F(CliMetadata, UnreadableMetadataIsLeftOutWithOneLine) {
    const std::string exif = std::string("Exif\0\0", 6) + phone_exif();
    const std::string broken_exif = std::string("Exif\0\0II*\0\xF0\xFF\xFF\xFF", 14);  // IFD0 past the end
    const auto icc = icc_segments(profile);
    const std::string regressions = std::string(IMGFILTER_FUZZ_REGRESSIONS) + "/metadata/";
    const struct {
        std::string input;
        std::string bytes;  // written to input when not empty
        const char* note;
        bool exif_kept, icc_kept;
    } cases[] = {
        {dir.path("bad-exif.jpg"), with_jpeg_segments(file("plain.jpg"), {{0xE1, broken_exif}, icc[0], icc[1]}),
         "unreadable EXIF block left out", false, true},
        {dir.path("half-icc.jpg"), with_jpeg_segments(file("plain.jpg"), {{0xE1, exif}, icc[0]}),
         "unreadable ICC profile left out", true, false},
        {dir.path("neither.jpg"), with_jpeg_segments(file("plain.jpg"), {{0xE1, broken_exif}, icc[1]}),
         "unreadable EXIF block and ICC profile left out", false, false},
        {dir.path("bad-icc.png"),
         with_png_chunks(file("plain.png"), {{"iCCP", std::string("p\0\0not zlib", 11)}, {"eXIf", phone_exif()}}),
         "unreadable ICC profile left out", true, false},
        // Repeated profiles each inflating past the limit: only the first is tried.
        {regressions + "png-iccp-twice-past-limit-then-valid", "", "unreadable ICC profile left out", false, false},
        // Directories shared by 100 pointers each: carried once each, no larger.
        {regressions + "jpeg-exif-100-pointers-per-directory-to-one-directory", "", nullptr, true, false},
    };
    std::string batch_inputs, batch_err;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        if (!c.bytes.empty()) {
            ASSERT_TRUE(write_bytes(c.input, bytes_of(c.bytes)));
        }
        const std::size_t input_size = read_bytes(c.input).size();
        const std::string note = c.note ? "imgfilter: " + c.input + ": " + c.note + "\n" : "";
        const cli_outcome result = run("emboss '" + c.input + "' " + q("out.png"));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, note);
        const std::string out = file("out.png");
        const std::vector<std::string> exif_chunks = png_chunks(out, "eXIf");
        ASSERT_EQ(exif_chunks.size(), c.exif_kept ? 1u : 0u);
        for (const std::string& chunk : exif_chunks) EXPECT_LE(chunk.size(), input_size);
        EXPECT_EQ(icc_from_png(out), c.icc_kept ? profile : "");
        batch_inputs += " '" + c.input + "'";
        batch_err += note;
    }
    const cli_outcome batch = run("emboss -j 2 --format png -o " + q("batch") + batch_inputs);
    EXPECT_EQ(batch.status, 0);
    EXPECT_EQ(batch.err, batch_err);
}

TEST_F(CliMetadata, BmpOutputsAndPlainInputsGetNothingAdded) {
    ASSERT_EQ(run("emboss " + q("photo.jpg") + " " + q("out.bmp")).status, 0);
    ASSERT_EQ(run("emboss " + q("plain.jpg") + " " + q("plain-out.bmp")).status, 0);
    EXPECT_EQ(file("out.bmp"), file("plain-out.bmp"));
    ASSERT_EQ(run("emboss " + q("plain.png") + " " + q("plain-out.png")).status, 0);
    EXPECT_TRUE(png_chunks(file("plain-out.png"), "eXIf").empty());
    EXPECT_TRUE(png_chunks(file("plain-out.png"), "iCCP").empty());
}

TEST_F(CliMetadata, CarriedThroughStdioAndBatches) {
    const cli_outcome piped = run_cli_with_stdin(dir, "emboss - -", dir.path("photo.jpg"));
    ASSERT_EQ(piped.status, 0) << piped.err;
    expect_cleaned(exif_from_jpeg(piped.out), false);
    EXPECT_EQ(icc_from_jpeg(piped.out), profile);

    ASSERT_EQ(run("emboss -j 2 -o " + q("batch") + " " + q("photo.jpg") + " " + q("photo.png")).status, 0);
    expect_cleaned(exif_from_jpeg(file("batch/photo.jpg")), false);
    EXPECT_EQ(icc_from_png(file("batch/photo.png")), profile);
}

TEST_F(CliMetadata, ANewFileHasTheModeOfANewFile) {
    // A directory's default ACL, where there is one, decides instead of the
    // umask: u::rw- g::rw- o::r-- with mask rw-, in the kernel's own layout
    // (no setfacl needed).
    ASSERT_EQ(mkdir(dir.path("shared").c_str(), 0777), 0);
    std::string acl("\2\0\0\0", 4);
    for (const auto& entry : {std::pair<int, int>{0x01, 6}, {0x04, 6}, {0x10, 6}, {0x20, 4}})
        acl += std::string{char(entry.first), 0, char(entry.second), 0, '\xff', '\xff', '\xff', '\xff'};
    const bool has_acls =
        setxattr(dir.path("shared").c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) == 0;

    const mode_t old_mask = umask(027);
    const cli_outcome result = run("emboss " + q("photo.jpg") + " " + q("out.jpg"));
    const cli_outcome shared = run("emboss " + q("photo.jpg") + " " + q("shared/out.jpg"));
    umask(old_mask);
    ASSERT_EQ(result.status, 0);
    struct stat info;
    ASSERT_EQ(stat(dir.path("out.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    if (has_acls) {
        ASSERT_EQ(shared.status, 0) << shared.err;
        ASSERT_EQ(stat(dir.path("shared/out.jpg").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0664u);
    }
    // Nothing but the result is left beside it.
    for (const std::string& name : list_dir(dir.root())) EXPECT_EQ(name.find(".imgfilter-"), std::string::npos) << name;
}

// A descriptor the tool holds on the user's files must not leak into
// anything the process might start. strace shows every open's flags.
TEST_F(CliMetadata, EveryFileItOpensIsCloseOnExec) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    // The leak checker of a sanitizer build refuses to run under a tracer.
    const std::string command = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                                "strace -f -qq -e trace=open,openat,openat2,creat,memfd_create -o " +
                                q("trace") + " '" + IMGFILTER_CLI + "' emboss " + q("photo.jpg") + " " +
                                q("out.jpg") + " >/dev/null 2>" + q("traced-stderr");
    ASSERT_EQ(std::system(command.c_str()), 0) << file("traced-stderr");
    std::size_t checked = 0;
    std::istringstream trace(file("trace"));
    for (std::string line; std::getline(trace, line);) {
        const bool ours = line.find(dir.root()) != std::string::npos || line.find("memfd_create(") != std::string::npos;
        if (!ours || line.find(" = -1 ") != std::string::npos) continue;
        ++checked;
        EXPECT_NE(line.find("CLOEXEC"), std::string::npos) << line;
    }
    EXPECT_GE(checked, 3u);  // the input, the library's result, the output
}

TEST_F(CliMetadata, WrittenAsTheLibraryWritesItsOwnOutputs) {
    // A replaced file keeps its permission bits.
    ASSERT_TRUE(write_bytes(dir.path("old.jpg"), {'o', 'l', 'd'}));
    ASSERT_EQ(chmod(dir.path("old.jpg").c_str(), 0604), 0);
    ASSERT_EQ(run("emboss " + q("photo.jpg") + " " + q("old.jpg")).status, 0);
    struct stat info;
    ASSERT_EQ(stat(dir.path("old.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u);
    EXPECT_EQ(icc_from_jpeg(file("old.jpg")), profile);

    // A symlink is written through and stays a link.
    ASSERT_TRUE(write_bytes(dir.path("target.jpg"), {'o', 'l', 'd'}));
    ASSERT_EQ(symlink("target.jpg", dir.path("link.jpg").c_str()), 0);
    ASSERT_EQ(run("emboss " + q("photo.jpg") + " " + q("link.jpg")).status, 0);
    struct stat link;
    ASSERT_EQ(lstat(dir.path("link.jpg").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(icc_from_jpeg(file("target.jpg")), profile);

    // A device is written in place by the library, never replaced by a file.
    ASSERT_EQ(run("emboss " + q("photo.jpg") + " /dev/null").status, 0);
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// Whatever stands at the output path gets the whole file, metadata included:
// the tool composes it in memory and writes it once, the way the library
// writes its own outputs.
TEST_F(CliMetadata, WhateverStandsAtTheOutputGetsTheMetadata) {
    // Another link to the file sees the new content: it is written in place.
    ASSERT_TRUE(write_bytes(dir.path("linked.jpg"), {'o', 'l', 'd'}));
    ASSERT_EQ(link(dir.path("linked.jpg").c_str(), dir.path("other-name.jpg").c_str()), 0);
    // A link whose target does not exist yet creates its target.
    ASSERT_EQ(symlink("created.jpg", dir.path("dangling.jpg").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.path("fifo.jpg").c_str(), 0600), 0);
    std::future<std::string> from_fifo = std::async(std::launch::async, [&] { return file("fifo.jpg"); });
    for (const char* output : {"linked.jpg", "dangling.jpg", "fifo.jpg"})
        ASSERT_EQ(run("emboss " + q("photo.jpg") + " " + q(output)).status, 0) << output;
    const std::pair<const char*, std::string> written[] = {
        {"hard link", file("other-name.jpg")}, {"dangling symlink", file("created.jpg")}, {"FIFO", from_fifo.get()}};
    for (const auto& [what, bytes] : written) {
        EXPECT_TRUE(icc_from_jpeg(bytes) == profile) << what;
        expect_cleaned(exif_from_jpeg(bytes), false);
    }
    struct stat link_info;
    ASSERT_EQ(lstat(dir.path("dangling.jpg").c_str(), &link_info), 0);
    EXPECT_TRUE(S_ISLNK(link_info.st_mode));

    // A writable file in a directory that takes no new file is written in
    // place too. Root ignores directory permissions: an ordinary user runs it,
    // from a copy of the tool and the library, since the build tree may lie
    // out of that user's reach.
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path("photo.jpg").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.path("bin").c_str(), 0755), 0);
    ASSERT_TRUE(write_bytes(dir.path("bin/imgfilter"), read_bytes(IMGFILTER_CLI)));
    ASSERT_TRUE(write_bytes(dir.path("bin/libimgfilter.so.1"), read_bytes(IMGFILTER_SHARED_LIBRARY)));
    ASSERT_EQ(chmod(dir.path("bin/imgfilter").c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.path("bin/libimgfilter.so.1").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(dir.path("locked").c_str(), 0755), 0);
    ASSERT_TRUE(write_bytes(dir.path("locked/out.jpg"), {'o', 'l', 'd'}));
    ASSERT_EQ(chmod(dir.path("locked/out.jpg").c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path("locked").c_str(), 0555), 0);
    const std::string command = "LD_LIBRARY_PATH=" + q("bin") + " " + q("bin/imgfilter") + " emboss " +
                                q("photo.jpg") + " " + q("locked/out.jpg");
    const auto as_user = [&] { return std::system(command.c_str()) == 0 ? 0 : 1; };
    EXPECT_EQ(geteuid() == 0 ? as_nobody(as_user) : as_user(), 0);
    EXPECT_TRUE(icc_from_jpeg(file("locked/out.jpg")) == profile);
    EXPECT_EQ(entries(dir.path("locked")), std::vector<std::string>{"out.jpg"});
}

// Killed at any moment, the tool leaves the old file or the complete new one
// beside the user's files, and nothing else that is not complete. Half the
// kills come at random, half the instant a name appears beside the output.
TEST_F(CliMetadata, KilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    test_image big(1600, 1000);
    std::mt19937 random(7);
    for (uint8_t& byte : big.bytes) byte = uint8_t(random());
    ASSERT_TRUE(write_jpg(dir.path("big.jpg"), big));
    ASSERT_TRUE(write_bytes(dir.path("photo.jpg"),
                            bytes_of(with_jpeg_segments(file("big.jpg"), icc_segments(profile)))));
    ASSERT_EQ(mkdir(dir.path("tmp").c_str(), 0700), 0);
    const std::string loop = "while :; do TMPDIR=" + q("tmp") + " " + IMGFILTER_CLI + " emboss " + q("photo.jpg") +
                             " " + q("out.jpg") + "; done";
    ASSERT_EQ(run("emboss " + q("photo.jpg") + " " + q("out.jpg")).status, 0);
    const std::string complete = file("out.jpg");
    const std::vector<std::string> before = entries(dir.root());
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.root().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    std::mt19937 delays(5);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setpgid(0, 0);
            execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(pid, pid);
        if (round % 2) {
            std::this_thread::sleep_for(std::chrono::microseconds(50000 + delays() % 400000));
        } else {
            pollfd event{watch, POLLIN, 0};
            EXPECT_EQ(poll(&event, 1, 10000), 1);
        }
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        alignas(inotify_event) char events[4096];
        while (read(watch, events, sizeof events) > 0) {  // what this round saw
        }
        EXPECT_TRUE(file("out.jpg") == complete);
        // The library's finished file has a hidden name for the instant
        // before it is renamed over the output; a kill right there leaves it,
        // complete.
        for (const std::string& name : entries(dir.root())) {
            if (std::find(before.begin(), before.end(), name) != before.end()) continue;
            EXPECT_TRUE(file(name) == complete) << name;
            unlink(dir.path(name).c_str());
        }
    }
    close(watch);
}
