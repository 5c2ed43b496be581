// The shared library exports what its version script (src/exports.map, read
// at test time) names and nothing else: checked in its dynamic
// symbol table, and each found through dlopen/dlsym. The script names the
// three lifecycle functions and every filter of the list.
#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filter_table.h"
#include "test_support.h"

namespace {

// The names under "global:" in a version script, up to "local:".
std::set<std::string> global_names(const std::vector<uint8_t>& script) {
    std::string text(script.begin(), script.end());
    for (std::size_t open = text.find("/*"); open != std::string::npos; open = text.find("/*", open)) {
        const std::size_t close = text.find("*/", open);
        text.erase(open, close == std::string::npos ? std::string::npos : close + 2 - open);
    }
    for (char& c : text)
        if (c == ';' || c == '{' || c == '}') c = ' ';
    std::set<std::string> names;
    std::istringstream words(text);
    bool global = false;
    for (std::string word; words >> word;) {
        if (word == "global:" || word == "local:") global = word == "global:";
        else if (global) names.insert(word);
    }
    return names;
}

const std::set<std::string>& exports() {
    static const std::set<std::string> names = global_names(read_bytes(IMGFILTER_EXPORTS_MAP));
    return names;
}

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

TEST(Exports, MapNamesTheLifecycleAndEveryFilter) {
    std::set<std::string> expected = {"imgfilter_init", "imgfilter_cleanup", "imgfilter_last_error"};
    for (const filter_entry& filter : k_filters) expected.insert(std::string("imgfilter_") + filter.name);
    EXPECT_EQ(exports(), expected) << IMGFILTER_EXPORTS_MAP;
}

TEST(Exports, ExactlyTheFunctionsOfTheMap) {
    const std::vector<uint8_t> file = read_bytes(IMGFILTER_SHARED_LIBRARY);
    ASSERT_FALSE(file.empty()) << IMGFILTER_SHARED_LIBRARY;
    ASSERT_FALSE(exports().empty()) << IMGFILTER_EXPORTS_MAP;
    EXPECT_EQ(defined_dynamic_symbols(file), exports());
}

TEST(Exports, EachIsFoundThroughDlopen) {
    void* library = dlopen(IMGFILTER_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string& name : exports()) EXPECT_NE(dlsym(library, name.c_str()), nullptr) << name;
    auto last_error = reinterpret_cast<const char* (*)()>(dlsym(library, "imgfilter_last_error"));
    ASSERT_NE(last_error, nullptr);
    EXPECT_STREQ(last_error(), "");
    dlclose(library);
}
