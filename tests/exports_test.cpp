// The shared library exports the twelve functions and nothing else: checked in
// its dynamic symbol table, and each of them found through dlopen/dlsym.
#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::set<std::string> k_exports = {
    "imgfilter_init",    "imgfilter_cleanup", "imgfilter_last_error", "imgfilter_vignette",
    "imgfilter_blur",    "imgfilter_sharpen", "imgfilter_kernel",     "imgfilter_emboss",
    "imgfilter_edge_detect", "imgfilter_denoise", "imgfilter_pixelate", "imgfilter_oil_paint",
};

// Defined, globally visible symbols of a 64-bit ELF shared object's .dynsym.
std::set<std::string> defined_dynamic_symbols(const std::vector<uint8_t>& file) {
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return names;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (header.e_shoff + sections.size() * sizeof(Elf64_Shdr) > file.size()) return names;
    std::memcpy(sections.data(), file.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr& strings = sections.at(section.sh_link);
        for (size_t offset = 0; offset + sizeof(Elf64_Sym) <= section.sh_size; offset += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, file.data() + section.sh_offset + offset, sizeof symbol);
            const int binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
            names.insert(reinterpret_cast<const char*>(file.data() + strings.sh_offset + symbol.st_name));
        }
    }
    return names;
}

}  // namespace

TEST(Exports, ExactlyTheTwelveFunctions) {
    const std::vector<uint8_t> file = read_bytes(IMGFILTER_SHARED_LIBRARY);
    ASSERT_FALSE(file.empty()) << IMGFILTER_SHARED_LIBRARY;
    EXPECT_EQ(defined_dynamic_symbols(file), k_exports);
}

TEST(Exports, EachIsFoundThroughDlopen) {
    void* library = dlopen(IMGFILTER_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string& name : k_exports) EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
    auto last_error = reinterpret_cast<const char* (*)()>(dlsym(library, "imgfilter_last_error"));
    ASSERT_NE(last_error, nullptr);
    EXPECT_STREQ(last_error(), "");
    dlclose(library);
}
