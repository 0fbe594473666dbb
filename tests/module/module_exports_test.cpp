#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

// Names of the symbols that bin/drivon.so defines in its dynamic symbol table (.dynsym);
// undefined entries are what it imports and are left out.
std::set<std::string> definedDynamicSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    std::set<std::string> names;
    Elf64_Ehdr header;
    if (file.size() < sizeof header) {
        ADD_FAILURE() << "not an ELF file";
        return names;
    }
    std::memcpy(&header, file.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
        header.e_shoff + size_t{header.e_shnum} * sizeof(Elf64_Shdr) > file.size()) {
        ADD_FAILURE() << "not a 64-bit ELF file with section headers";
        return names;
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), file.data() + header.e_shoff,
                sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM) {
            continue;
        }
        const Elf64_Shdr& strings = sections.at(section.sh_link);
        const size_t count = section.sh_size / sizeof(Elf64_Sym);
        for (size_t i = 1; i < count; ++i) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, file.data() + section.sh_offset + i * sizeof(Elf64_Sym),
                        sizeof symbol);
            if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_BIND(symbol.st_info) == STB_LOCAL) {
                continue;
            }
            names.insert(file.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

} // namespace

TEST(ModuleExports, TheDynamicSymbolTableDefinesExactlyTheSixEntryPoints) {
    const std::set<std::string> expected = {
        "zeb_module_set_pointer", "zeb_module_ver",         "zeb_module_load",
        "zeb_module_name",        "zeb_module_description", "zeb_module_author",
    };
    EXPECT_EQ(definedDynamicSymbols(DRIVON_MODULE_PATH), expected);
}

TEST(ModuleExports, TheEntryPointsDescribeTheModule) {
    TempConfigRoot root;
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    EXPECT_EQ(module.ver(), 0x1D010001u);
    EXPECT_STREQ(module.name(), "Drivon");
    EXPECT_STREQ(module.description(), "Drivon Live Streaming");
    EXPECT_STREQ(module.author(), "Mendrel");
}
