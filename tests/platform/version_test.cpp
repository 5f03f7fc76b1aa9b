#include <gtest/gtest.h>

#include <elf.h>

#include <cstring>
#include <string>

#include "platform/system/version.h"
#include "support/byte_reader.h"

namespace tarnwick::platform {
namespace {

using testing::FromBytes;

// A minimal ELF file: header, a name table, an optional version section, section headers.
std::string MakeElf(bool withRecord, std::array<char, 8> magic = kVersionMagic) {
    const std::string names = std::string("\0.shstrtab\0", 11) + kVersionSection + '\0';
    const VersionRecord record{magic, 1, 0, 2, 31};
    std::string body = names;
    const std::size_t recordOffset = sizeof(Elf64_Ehdr) + body.size();
    body.append(reinterpret_cast<const char*>(&record), sizeof record);

    Elf64_Shdr sections[3]{};
    sections[1].sh_name = 1;
    sections[1].sh_type = SHT_STRTAB;
    sections[1].sh_offset = sizeof(Elf64_Ehdr);
    sections[1].sh_size = names.size();
    sections[2].sh_name = withRecord ? 11 : 1;
    sections[2].sh_type = SHT_PROGBITS;
    sections[2].sh_offset = recordOffset;
    sections[2].sh_size = sizeof record;

    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_shentsize = sizeof(Elf64_Shdr);
    header.e_shnum = 3;
    header.e_shstrndx = 1;
    header.e_shoff = sizeof(Elf64_Ehdr) + body.size();

    std::string file(reinterpret_cast<const char*>(&header), sizeof header);
    file += body;
    file.append(reinterpret_cast<const char*>(sections), sizeof sections);
    return file;
}

TEST(VersionRecordTest, FindsTheRecordByItsSectionName) {
    const std::string file = MakeElf(true);
    const auto version = ParseVersionRecord(FromBytes(file));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 1u);
    EXPECT_EQ(version->minor, 0u);
    EXPECT_EQ(version->release, 2u);
    EXPECT_EQ(version->build, 31u);
}

TEST(VersionRecordTest, MissingOrDamagedRecordsGiveNoVersion) {
    EXPECT_FALSE(ParseVersionRecord(FromBytes(MakeElf(false))));
    EXPECT_FALSE(
        ParseVersionRecord(FromBytes(MakeElf(true, {'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X'}))));
    EXPECT_FALSE(ParseVersionRecord(FromBytes("")));
    EXPECT_FALSE(ParseVersionRecord(FromBytes("#!/bin/sh\necho hello\n")));

    // Every truncation of a good file, and headers that point anywhere, answer without a crash.
    const std::string good = MakeElf(true);
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::string cut = good.substr(0, length);
        EXPECT_FALSE(ParseVersionRecord(FromBytes(cut))) << length;
    }
    std::string hostile = good;
    auto* header = reinterpret_cast<Elf64_Ehdr*>(hostile.data());
    header->e_shoff = ~0ULL - 8;
    EXPECT_FALSE(ParseVersionRecord(FromBytes(hostile)));
    header->e_shoff = MakeElf(true).size() - 3 * sizeof(Elf64_Shdr);
    header->e_shstrndx = 7;
    EXPECT_FALSE(ParseVersionRecord(FromBytes(hostile)));
}

TEST(VersionRecordTest, ReadsTheFileOfARealProgram) {
    EXPECT_FALSE(ReadFileVersion("/nonexistent/program"));
    EXPECT_FALSE(ReadFileVersion("/proc/self/status"));
}

}  // namespace
}  // namespace tarnwick::platform
