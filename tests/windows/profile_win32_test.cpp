// The settings file through the private-profile services, and one file for both editions: what
// either writes, the other reads alike (line ends, quotes, the deleted marker).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile/profile.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Values as the settings keep them, the awkward ones included.
const std::vector<std::string> kValues = {
    "E:\\Backup\\Photos", "!", "", "  blanks around  ", "\"quoted\"", "a=b", "; not a comment",
    "2891450123",         "0", "1"};

std::string Key(std::size_t i) {
    return std::to_string(i + 1) + "_PATH";
}

TEST(Win32Profile, AFileWrittenOnLinuxReadsTheSame) {
    for (const char* lineEnd : {"\n", "\r\n"}) {
        SCOPED_TRACE(lineEnd[1] == '\0' ? "LF" : "CRLF");
        // The Linux edition's writing of every value, into one file with the line ends it had.
        std::optional<std::string> text =
            std::string("[1_OTHER]") + lineEnd + "1_PATH=F:\\" + lineEnd;
        for (std::size_t i = 0; i < kValues.size(); ++i) {
            text = ProfileWithValue(*text, "1_WORKSTATION", Key(i), kValues[i]);
            ASSERT_TRUE(text);
        }
        TempDir dir;
        WriteFile(dir / "tarnwick.INI", *text);
        ProfileFile file((dir / "tarnwick.INI").string());
        for (std::size_t i = 0; i < kValues.size(); ++i) {
            EXPECT_EQ(file.Read("1_workstation", Key(i)), kValues[i]) << Key(i);
        }
        EXPECT_EQ(file.Read("1_WORKSTATION", "99_PATH"), std::nullopt);
        EXPECT_EQ(file.Read("2_WORKSTATION", "1_PATH"), std::nullopt);
        EXPECT_EQ(file.Read("1_OTHER", "1_PATH"), "F:\\");
    }
}

TEST(Win32Profile, AFileWrittenHereReadsTheSameOnLinux) {
    TempDir dir;
    // Another computer's section, written on Linux, stays as it was.
    WriteFile(dir / "tarnwick.INI", "[1_OTHER]\n1_PATH=F:\\\n");
    ProfileFile file((dir / "tarnwick.INI").string());
    for (std::size_t i = 0; i < kValues.size(); ++i) {
        ASSERT_TRUE(file.Write("1_WORKSTATION", Key(i), kValues[i]));
    }
    ASSERT_TRUE(file.Write("1_WORKSTATION", Key(0), "E:\\Changed"));
    const std::string text = ReadFile(dir / "tarnwick.INI");
    EXPECT_EQ(ProfileValue(text, "1_WORKSTATION", Key(0)), "E:\\Changed");
    for (std::size_t i = 1; i < kValues.size(); ++i) {
        EXPECT_EQ(ProfileValue(text, "1_WORKSTATION", Key(i)), kValues[i]) << Key(i);
    }
    EXPECT_EQ(ProfileValue(text, "1_OTHER", "1_PATH"), "F:\\");
    EXPECT_FALSE(file.Write("1_WORKSTATION", "bad\nkey", "x"));
    EXPECT_FALSE(file.Write("1_WORKSTATION", "1_PATH", "two\nlines"));
}

TEST(Win32Profile, SectionsGoWholeAndAReadOnlyFileStaysAsItIs) {
    TempDir dir;
    const std::string path = (dir / "tarnwick.INI").string();
    const std::string text =
        "[1_WORKSTATION]\n1_PATH=C:\\a\n[2_WORKSTATION]\n1_PATH=C:\\b\n"
        "[1_workstation]\n1_PATH=C:\\older\n";
    WriteFile(path, text);
    ProfileFile file(path);
    ASSERT_TRUE(file.EraseSection("1_WORKSTATION"));
    EXPECT_EQ(file.Read("1_WORKSTATION", "1_PATH"), std::nullopt) << "no older duplicate shows";
    EXPECT_EQ(file.Read("2_WORKSTATION", "1_PATH"), "C:\\b");

    WriteFile(path, text);
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(file.Write("1_WORKSTATION", "1_PATH", "C:\\new"));
    EXPECT_FALSE(file.EraseSection("2_WORKSTATION"));
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(path), text);

    // A missing file reads as empty and is made by the first write.
    ProfileFile fresh((dir / "new.INI").string());
    EXPECT_EQ(fresh.Read("1_WORKSTATION", "1_PATH"), std::nullopt);
    EXPECT_TRUE(fresh.Write("1_WORKSTATION", "1_PATH", "C:\\x"));
    EXPECT_EQ(fresh.Read("1_WORKSTATION", "1_PATH"), "C:\\x");
}

}  // namespace
}  // namespace tarnwick::platform
