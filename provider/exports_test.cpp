// SPDX-License-Identifier: MIT
// Loads the built libmapi32.so as the Broker does and checks what it exports.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

// Not mapi/mapi.h: its property types clash with <elf.h> (PT_NULL).
#include "mapi/mapi_codes.h"
#include "mapi/mapi_types.h"

namespace {

const std::set<std::string> kEntryPoints = {
    "MAPIInitialize",   "MAPIUninitialize", "MAPILogonEx",      "MAPIAllocateBuffer",
    "MAPIAllocateMore", "MAPIFreeBuffer",   "MAPIAdminProfiles"};

// The names of the symbols the library defines and exports, read from the
// dynamic symbol table of the file.
std::set<std::string> definedExports(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr)) {
        ADD_FAILURE() << "not an ELF file: " << path;
        return names;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shoff + std::size_t{header.e_shnum} * sizeof(Elf64_Shdr) > image.size()) {
        ADD_FAILURE() << "not a 64-bit ELF file: " << path;
        return names;
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), image.data() + header.e_shoff,
                header.e_shnum * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        for (std::size_t off = 0; off + sizeof(Elf64_Sym) <= section.sh_size;
             off += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, image.data() + section.sh_offset + off, sizeof symbol);
            unsigned bind = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) ||
                ELF64_ST_VISIBILITY(symbol.st_other) != STV_DEFAULT) {
                continue;
            }
            names.insert(image.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

TEST(ProviderExports, ExactlyTheSevenEntryPoints) {
    std::set<std::string> exported = definedExports(MB_MAPI32_PATH);
    EXPECT_EQ(exported, kEntryPoints);

    void* library = dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const std::string& name : kEntryPoints) {
        void* symbol = dlsym(library, name.c_str());
        ASSERT_NE(symbol, nullptr) << name;
        Dl_info info{};
        ASSERT_NE(dladdr(symbol, &info), 0) << name;
        EXPECT_NE(std::strstr(info.dli_fname, "libmapi32.so"), nullptr) << info.dli_fname;
    }
    // A provider function that is not an entry point cannot be looked up.
    EXPECT_EQ(dlsym(library, "_ZN2mb8provider15liveRootBuffersEv"), nullptr);
    EXPECT_EQ(dlclose(library), 0);
}

TEST(ProviderExports, LoadUseUnloadCycle) {
    for (int round = 0; round < 3; ++round) {
        void* library = dlopen(MB_MAPI32_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto init = reinterpret_cast<LPMAPIINITIALIZE>(dlsym(library, "MAPIInitialize"));
        auto uninit = reinterpret_cast<LPMAPIUNINITIALIZE>(dlsym(library, "MAPIUninitialize"));
        auto allocate =
            reinterpret_cast<LPMAPIALLOCATEBUFFER>(dlsym(library, "MAPIAllocateBuffer"));
        auto more = reinterpret_cast<LPMAPIALLOCATEMORE>(dlsym(library, "MAPIAllocateMore"));
        auto release = reinterpret_cast<LPMAPIFREEBUFFER>(dlsym(library, "MAPIFreeBuffer"));
        ASSERT_TRUE(init && uninit && allocate && more && release);
        EXPECT_EQ(init(nullptr), S_OK);
        void* buffer = nullptr;
        void* linked = nullptr;
        ASSERT_EQ(allocate(16, &buffer), S_OK);
        ASSERT_EQ(more(64, buffer, &linked), S_OK);
        EXPECT_NE(linked, nullptr);
        EXPECT_EQ(release(buffer), static_cast<ULONG>(S_OK));
        uninit();
        EXPECT_EQ(dlclose(library), 0);
    }
}

}  // namespace
