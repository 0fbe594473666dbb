#include <algorithm>
#include <cstddef>
#include <cstring>
#include <elf.h>
#include <set>

#include <gtest/gtest.h>

#include "tests/module/loaded_module.h"

namespace {

// Names that the 64-bit ELF file at path defines in its dynamic symbol table (.dynsym); the
// undefined entries are what it imports.
std::set<std::string> definedDynamicSymbols(const std::string& path) {
    const std::string file = readFile(path);
    auto read = [&](auto& out, size_t offset) {
        const bool inside = offset + sizeof out <= file.size();
        EXPECT_TRUE(inside) << "truncated ELF file";
        std::memcpy(&out, file.data() + (inside ? offset : 0), inside ? sizeof out : 0);
    };
    Elf64_Ehdr header{};
    read(header, 0);
    EXPECT_EQ(std::memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
    std::set<std::string> names;
    for (size_t s = 0; s < header.e_shnum; ++s) {
        Elf64_Shdr section{};
        Elf64_Shdr strings{};
        read(section, header.e_shoff + s * sizeof section);
        if (section.sh_type != SHT_DYNSYM) {
            continue;
        }
        read(strings, header.e_shoff + section.sh_link * sizeof strings);
        for (size_t i = 1; i < section.sh_size / sizeof(Elf64_Sym); ++i) {
            Elf64_Sym symbol{};
            read(symbol, section.sh_offset + i * sizeof symbol);
            if (symbol.st_shndx != SHN_UNDEF && ELF64_ST_BIND(symbol.st_info) != STB_LOCAL) {
                names.insert(file.c_str() + strings.sh_offset + symbol.st_name);
            }
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

TEST(ModuleExports, TheEntryPointsDescribeTheModuleAndRegisterOneSelfDrawingInputSource) {
    TempConfig config;
    LoadedModule module;
    ASSERT_TRUE(module.ok());
    auto* ver = module.symbol<uint32_t()>("zeb_module_ver");
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(ver(), 0x1D010001u);
    for (const auto& [name, text] : {std::pair{"zeb_module_name", "Drivon"},
                                     {"zeb_module_description", "Drivon Live Streaming"},
                                     {"zeb_module_author", "Mendrel"}}) {
        auto* function = module.symbol<const char*()>(name);
        ASSERT_NE(function, nullptr);
        EXPECT_STREQ(function(), text);
    }

    const zeb_source_info& info = module.source();
    EXPECT_STREQ(info.id, "drivon");
    EXPECT_EQ(info.type, ZEB_SOURCE_TYPE_INPUT);
    EXPECT_EQ(info.output_flags, 9u);
    ASSERT_NE(info.get_name, nullptr);
    EXPECT_STREQ(info.get_name(nullptr), "Drivon");
    for (const void* callback :
         {(const void*)info.create, (const void*)info.destroy, (const void*)info.get_width,
          (const void*)info.get_height, (const void*)info.activate, (const void*)info.deactivate,
          (const void*)info.show, (const void*)info.hide, (const void*)info.video_tick,
          (const void*)info.video_render}) {
        EXPECT_NE(callback, nullptr);
    }
    // No settings, properties, audio, interaction, media controls or colour spaces; version 0.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    EXPECT_TRUE(std::all_of(bytes + offsetof(zeb_source_info, get_defaults), bytes + sizeof info,
                            [](uint8_t b) { return b == 0; }));
}
