// The fuzzer's bytes choose a filter, an input image and the parameters: NaN,
// the infinities, huge and tiny floats, INT_MIN and INT_MAX, a NULL weight
// array, every kernel size, or any raw 32-bit value. Every call must keep the
// contract, and a success must keep the image's size.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "exported_calls.h"
#include "fuzz_support.h"
#include "stb_image_write.h"

namespace {

struct input_image {
    std::string path;
    int width;
    int height;
};

void put_le32(std::vector<uint8_t>* to, uint32_t value) {
    for (int i = 0; i < 4; ++i) to->push_back(uint8_t(value >> (8 * i)));
}

// A BMP whose header gives width 0: it decodes to an empty image.
std::vector<uint8_t> empty_bmp() {
    std::vector<uint8_t> file{'B', 'M'};
    for (uint32_t value : {54u, 0u, 54u, 40u, 0u, 4u}) put_le32(&file, value);
    file.insert(file.end(), {1, 0, 24, 0});
    for (int i = 0; i < 6; ++i) put_le32(&file, 0);
    return file;
}

const std::vector<input_image>& inputs() {
    static const std::vector<input_image> images = [] {
        std::vector<input_image> made;
        const int sizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {1, 9}, {9, 1}, {16, 16}};
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            std::vector<uint8_t> pixels(size_t(w) * h * 4);
            for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 67 + (i >> 2) * 13);
            const std::string name = "in" + std::to_string(w) + "x" + std::to_string(h);
            const std::string png = scratch_path((name + ".png").c_str());
            const std::string bmp = scratch_path((name + ".bmp").c_str());
            stbi_write_png(png.c_str(), w, h, 4, pixels.data(), w * 4);
            stbi_write_bmp(bmp.c_str(), w, h, 4, pixels.data());
            made.push_back({png, w, h});
            made.push_back({bmp, w, h});
        }
        const std::vector<uint8_t> empty = empty_bmp();
        const std::string path = scratch_path("empty.bmp");
        write_file(path, empty.data(), empty.size());
        made.push_back({path, 0, 4});
        return made;
    }();
    return images;
}

// Reads the fuzzer's bytes front to back, 0 once they run out.
struct byte_source {
    const uint8_t* data;
    size_t size;
    size_t used = 0;

    uint8_t byte() { return used < size ? data[used++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t(byte()) << (8 * i);
        return value;
    }
    float any_float() {
        static const float k_special[] = {
            NAN, INFINITY, -INFINITY, 0.0f, -0.0f, FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MAX, -FLT_MAX,
            1e-30f, 1e-7f, 0.5f, 1.0f, 2.5f, 5.0f, std::nextafter(5.0f, 10.0f), 50.0f, 100.0f,
            std::nextafter(100.0f, 200.0f), 1e30f, -1.0f};
        const uint8_t choice = byte();
        if (choice < 2 * (sizeof k_special / sizeof k_special[0])) return k_special[choice / 2];
        const uint32_t bits = word();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    int any_int() {
        static const int k_special[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, 2, 3, 4, 5, 9, 10, 11, 29, 30, 31, 1000,
                                        INT_MAX - 1, INT_MAX};
        const uint8_t choice = byte();
        if (choice < 2 * (sizeof k_special / sizeof k_special[0])) return k_special[choice / 2];
        return int(word());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    byte_source source{data, size};
    const filter_entry& filter = k_filters[source.byte() % k_filter_count];
    const input_image& image = inputs()[source.byte() % inputs().size()];
    static const char* const k_outputs[] = {"out.png", "out.jpg", "out.bmp"};
    const std::string output = scratch_path(k_outputs[source.byte() % 3]);
    const char* in = image.path.c_str();
    const char* out = output.c_str();
    const int w = image.width;
    const int h = image.height;

    filter_param value;
    float grid[25];
    switch (filter.kind) {
        case param_kind::real: value.real = source.any_float(); break;
        case param_kind::integer: value.integer = source.any_int(); break;
        case param_kind::weights: {
            const bool null_weights = source.byte() == 0;
            value.grid.size = source.any_int();
            for (float& weight : grid) weight = source.any_float();
            value.grid.weights = null_weights ? nullptr : grid;
            break;
        }
        case param_kind::none: break;
    }
    check_contract(filter.name, call_exported(filter.id, in, out, value.record(filter.kind)), output, w, h);
    return 0;
}
