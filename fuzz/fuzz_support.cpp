#include "fuzz_support.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imgfilter.h"
#include "stb_image.h"

namespace {

[[noreturn]] void violated(const char* filter, const char* what, const std::string& detail) {
    std::fprintf(stderr, "contract violated by %s: %s: %s\n", filter, what, detail.c_str());
    std::abort();
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string scratch_path(const char* name) {
    static const std::string root = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/imgfilter-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    return root + "/" + name;
}

void write_file(const std::string& path, const uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

void check_contract(const char* filter, int result, const std::string& output, int width, int height) {
    const std::string message = imgfilter_last_error();
    if (result == 1) {
        if (!message.empty()) violated(filter, "success with a message", message);
        int w = 0, h = 0, channels = 0;
        unsigned char* pixels = stbi_load(output.c_str(), &w, &h, &channels, 4);
        if (!pixels) violated(filter, "success with an undecodable output", stbi_failure_reason());
        stbi_image_free(pixels);
        if (width >= 0 && (w != width || h != height))
            violated(filter, "output of another size", std::to_string(w) + "x" + std::to_string(h));
        std::remove(output.c_str());
        return;
    }
    if (result != 0) violated(filter, "result neither 0 nor 1", std::to_string(result));
    const std::string prefix = std::string(filter) + ": ";
    if (message.compare(0, prefix.size(), prefix) != 0 || message.size() == prefix.size())
        violated(filter, "failure without its message", message);
    if (exists(output)) violated(filter, "failure that left an output file", output);
}
