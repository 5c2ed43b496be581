// Helpers shared by the tests: scratch directories, tiny images written with
// stb_image_write so expected pixels are exact, and decoding of outputs.
#ifndef IMGFILTER_TEST_SUPPORT_H
#define IMGFILTER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filter_table.h"
#include "filters/filter.h"

struct rgba {
    uint8_t r, g, b, a;
    bool operator==(const rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
std::ostream& operator<<(std::ostream& out, const rgba& p);

inline rgba grey(uint8_t level, uint8_t alpha = 255) { return {level, level, level, alpha}; }

// An image in test-owned memory.
struct test_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;  // RGBA

    test_image() = default;
    test_image(int w, int h, rgba fill = {0, 0, 0, 255});
    rgba at(int x, int y) const;
    void set(int x, int y, rgba p);
    bool operator==(const test_image& o) const {
        return width == o.width && height == o.height && bytes == o.bytes;
    }
};

// Opaque greys of the given levels, row by row, width to a row.
test_image grey_picture(int width, const std::vector<int>& levels);

// For failure messages: the size, then the pixels row by row (the first 64).
std::ostream& operator<<(std::ostream& out, const test_image& image);

// Every byte different from its neighbours, alpha included, from a fixed
// pseudo-random sequence: for properties that must hold on any picture.
test_image varied_image(int width, int height);

// Random bytes, alpha included, from a generator seeded with seed: a picture
// whose PNG is as large as its pixels, since noise does not compress.
test_image noise(int width, int height, unsigned seed);

// Every pixel's alpha as in `in`, and at least one colour byte different: a
// filter ran and kept alpha out of it.
::testing::AssertionResult alpha_kept_colour_changed(const test_image& in, const test_image& out);

// Runs a worker on a copy of the image in C-heap memory, as the pipeline would,
// and returns the worker's result; *out receives the pixels afterwards.
int run_worker(filter_fn worker, const test_image& in, const void* params, test_image* out);
// The same on a chosen code path.
int run_worker(decltype(filter_entry::worker_with) worker, code_path path, const test_image& in, const void* params,
               test_image* out);

// A fresh directory under the system's temporary directory, removed afterwards.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    std::string path(const std::string& name) const { return root_ + "/" + name; }
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

bool write_png(const std::string& path, const test_image& image);
bool write_bmp(const std::string& path, const test_image& image);
bool write_jpg(const std::string& path, const test_image& image);
bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_bytes(const std::string& path);
bool file_exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);

// An exported filter call on real files, made in a scratch directory that is
// gone when the helper returns.
struct file_run {
    int result;
    std::string message;  // imgfilter_last_error() right after the call
    std::string input;    // the input path the call was given
    bool wrote_output;
};
using file_call = std::function<int(const char* input, const char* output)>;

// The image written as in.png, the output asked for as out.png.
file_run run_on_files(const test_image& image, const file_call& call);
// An input path that names no file.
file_run run_on_missing_input(const file_call& call);

// Decodes a file to RGBA; an empty image (width 0) when it cannot.
test_image load_image(const std::string& path);

// What the decoder made of the file's first bytes: "png", "jpeg", "bmp" or "".
std::string file_kind(const std::string& path);

// A worker that keeps the image as it is and succeeds: the pipeline around it
// is what a test looks at.
int keep_worker(filter_image* image, const void* params);

// The pipeline with keep_worker, so that the output holds exactly the input's
// pixels: 1 or 0 as process_image returns.
int copy_image(const std::string& input, const std::string& output);

// For the suites about what reaches the decoder and what it answers: a file's
// bytes copied through the pipeline from in.bin in a scratch directory.
class pipeline_on_bytes : public ::testing::Test {
protected:
    scratch_dir dir;
    // copy_image's result; -1 when in.bin cannot be written.
    int run(const std::vector<uint8_t>& file, const std::string& output = "out.png");
    // The message of in.bin refused by the decoder for this reason.
    std::string decode_failure(const std::string& reason) const;
};

#endif
