#include "test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <stdexcept>

#include "imgfilter.h"
#include "pipeline.h"
#include "stb_image.h"
#include "stb_image_write.h"

std::ostream& operator<<(std::ostream& out, const rgba& p) {
    return out << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ", " << int(p.a) << ")";
}

test_image::test_image(int w, int h, rgba fill) : width(w), height(h), bytes(size_t(w) * h * 4) {
    for (size_t i = 0; i < bytes.size(); i += 4) {
        bytes[i] = fill.r;
        bytes[i + 1] = fill.g;
        bytes[i + 2] = fill.b;
        bytes[i + 3] = fill.a;
    }
}

rgba test_image::at(int x, int y) const {
    const uint8_t* p = &bytes[(size_t(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

void test_image::set(int x, int y, rgba p) {
    uint8_t* q = &bytes[(size_t(y) * width + x) * 4];
    q[0] = p.r;
    q[1] = p.g;
    q[2] = p.b;
    q[3] = p.a;
}

// run(image) on a C-heap copy of in; a byte more than the pixels, so that an
// empty image still has a block to hand over and free.
template <typename Run>
static int run_on_copy(const test_image& in, test_image* out, Run run) {
    filter_image image{in.width, in.height, static_cast<unsigned char*>(std::malloc(in.bytes.size() + 1))};
    if (!in.bytes.empty()) std::memcpy(image.pixels, in.bytes.data(), in.bytes.size());
    const int result = run(&image);
    out->width = image.width;
    out->height = image.height;
    out->bytes.assign(image.pixels, image.pixels + in.bytes.size());
    std::free(image.pixels);
    return result;
}

int run_worker(filter_fn worker, const test_image& in, const void* params, test_image* out) {
    return run_on_copy(in, out, [&](filter_image* image) { return worker(image, params); });
}

int run_worker(decltype(filter_entry::worker_with) worker, code_path path, const test_image& in, const void* params,
               test_image* out) {
    return run_on_copy(in, out, [&](filter_image* image) { return worker(image, params, path); });
}

std::ostream& operator<<(std::ostream& out, const test_image& image) {
    out << image.width << "x" << image.height << ":";
    const int shown = std::min(image.width * image.height, 64);
    for (int i = 0; i < shown; ++i)
        out << (i % image.width ? " " : "\n  ") << image.at(i % image.width, i / image.width);
    if (shown < image.width * image.height) out << " ...";
    return out;
}

test_image grey_picture(int width, const std::vector<int>& levels) {
    test_image image(width, static_cast<int>(levels.size()) / width);
    for (size_t i = 0; i < levels.size(); ++i)
        image.set(static_cast<int>(i) % width, static_cast<int>(i) / width, grey(static_cast<uint8_t>(levels[i])));
    return image;
}

test_image varied_image(int width, int height) {
    test_image image(width, height);
    uint32_t state = 12345;
    for (uint8_t& byte : image.bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return image;
}

test_image noise(int width, int height, unsigned seed) {
    test_image image(width, height);
    std::mt19937 random(seed);
    for (uint8_t& byte : image.bytes) byte = uint8_t(random());
    return image;
}

file_run run_on_files(const test_image& image, const file_call& call) {
    scratch_dir dir;
    const std::string input = dir.path("in.png");
    const std::string output = dir.path("out.png");
    if (!write_png(input, image)) throw std::runtime_error("cannot write " + input);
    const int result = call(input.c_str(), output.c_str());
    return {result, imgfilter_last_error(), input, file_exists(output)};
}

file_run run_on_missing_input(const file_call& call) {
    scratch_dir dir;
    const std::string input = dir.path("missing.png");
    const std::string output = dir.path("out.png");
    const int result = call(input.c_str(), output.c_str());
    return {result, imgfilter_last_error(), input, file_exists(output)};
}

scratch_dir::scratch_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/imgfilter-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
}

static void remove_tree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        for (const std::string& name : list_dir(path)) remove_tree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

scratch_dir::~scratch_dir() { remove_tree(root_); }

bool write_png(const std::string& path, const test_image& image) {
    return stbi_write_png(path.c_str(), image.width, image.height, 4, image.bytes.data(), image.width * 4) != 0;
}

bool write_bmp(const std::string& path, const test_image& image) {
    return stbi_write_bmp(path.c_str(), image.width, image.height, 4, image.bytes.data()) != 0;
}

bool write_jpg(const std::string& path, const test_image& image) {
    return stbi_write_jpg(path.c_str(), image.width, image.height, 4, image.bytes.data(), 95) != 0;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    // An empty vector's data() may be NULL, which fwrite must not be given.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

test_image load_image(const std::string& path) {
    test_image image;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &image.width, &image.height, &channels, 4);
    if (!data) return test_image();
    image.bytes.assign(data, data + size_t(image.width) * image.height * 4);
    stbi_image_free(data);
    return image;
}

std::string file_kind(const std::string& path) {
    const std::vector<uint8_t> bytes = read_bytes(path);
    if (bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G') return "png";
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return "jpeg";
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return "bmp";
    return "";
}

::testing::AssertionResult alpha_kept_colour_changed(const test_image& in, const test_image& out) {
    if (in.width != out.width || in.height != out.height) return ::testing::AssertionFailure() << "size changed";
    bool colour_changed = false;
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            const rgba a = in.at(x, y);
            const rgba b = out.at(x, y);
            if (a.a != b.a) return ::testing::AssertionFailure() << "alpha changed at " << x << "," << y;
            colour_changed = colour_changed || a.r != b.r || a.g != b.g || a.b != b.b;
        }
    }
    if (!colour_changed) return ::testing::AssertionFailure() << "no colour changed";
    return ::testing::AssertionSuccess();
}

int keep_worker(filter_image*, const void*) {
    clear_err();
    return 1;
}

int copy_image(const std::string& input, const std::string& output) {
    return process_image(input.c_str(), output.c_str(), "test", keep_worker, nullptr);
}

int pipeline_on_bytes::run(const std::vector<uint8_t>& file, const std::string& output) {
    if (!write_bytes(dir.path("in.bin"), file)) return -1;
    return copy_image(dir.path("in.bin"), dir.path(output));
}

std::string pipeline_on_bytes::decode_failure(const std::string& reason) const {
    return "test: cannot decode '" + dir.path("in.bin") + "' (" + reason + ")";
}
