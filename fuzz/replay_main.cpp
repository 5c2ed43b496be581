// Turns a fuzz target into a plain program: every file named on the command
// line, and every file in every directory named there, is fed to the target
// once. A contract violation or a sanitizer report ends the run with a failure.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> read_file(const std::string& path, bool* ok) {
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    *ok = file != nullptr;
    if (!file) return bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    *ok = !std::ferror(file);
    std::fclose(file);
    return bytes;
}

bool replay(const std::string& path, int* count) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::perror(path.c_str());
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (!dir) return false;
        bool ok = true;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            ok = replay(path + "/" + entry->d_name, count) && ok;
        }
        closedir(dir);
        return ok;
    }
    bool ok = false;
    const std::vector<uint8_t> bytes = read_file(path, &ok);
    if (!ok) {
        std::perror(path.c_str());
        return false;
    }
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
        return 2;
    }
    int count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) ok = replay(argv[i], &count) && ok;
    std::fprintf(stderr, "%d inputs replayed\n", count);
    return ok && count > 0 ? 0 : 1;
}
