// The settings file's access object: its path, typed reads, and writes that fail.

#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>

#include "settings/folder_groups.h"
#include "settings_fixture.h"
#include "support/fat_stick.h"
#include "support/unprivileged.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunningAsRoot;
using testing::RunUnprivileged;

constexpr const char* kIniDrivePath = "E:\\Tools\\tarnwick.INI";

class SettingsFileTest : public testing::SettingsFixture {};

// The message of the SettingsError `write` raises; empty when it raises none.
std::string ErrorOf(const std::function<void()>& write) {
    try {
        write();
    } catch (const SettingsError& error) {
        return error.what();
    }
    return {};
}

std::vector<std::string> EntriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SettingsFilePath, ExtensionOfTheFileNameBecomesIni) {
    EXPECT_EQ(SettingsFilePathFor("E:\\Tools\\Tarnwick.exe"), "E:\\Tools\\Tarnwick.INI");
    EXPECT_EQ(SettingsFilePathFor("C:\\opt\\tarnwick\\tarnwick"),
              "C:\\opt\\tarnwick\\tarnwick.INI");
    EXPECT_EQ(SettingsFilePathFor("C:\\my.apps\\tarnwick"), "C:\\my.apps\\tarnwick.INI");
    EXPECT_EQ(SettingsFilePathFor("C:\\x\\tarnwick.tar.gz"), "C:\\x\\tarnwick.tar.INI");
    EXPECT_EQ(SettingsFilePathFor("C:\\a"), "C:\\a.INI");
    EXPECT_EQ(SettingsFilePathFor("C:\\"), "");
    EXPECT_EQ(SettingsFilePathFor(""), "");
}

TEST_F(SettingsFileTest, LiesBesideTheExecutable) {
    SettingsFile file;
    EXPECT_EQ(file.Path(), kIniDrivePath);
    file.WriteString("S", "k", "v");
    EXPECT_EQ(IniText(), "[S]\nk=v\n");
}

TEST_F(SettingsFileTest, TypedReadsAndTheirDefaults) {
    SetIniText(
        "[S]\nstr= some text \nempty=\nnum=42\nneg=-7\nhex=0X1f\nbad=12abc\nbig=99999999999\n"
        "one=1\nzero=0\nword=true\n");
    const SettingsFile file;
    EXPECT_EQ(file.ReadString("s", "STR", "d"), "some text");
    EXPECT_EQ(file.ReadString("S", "empty", "d"), "");
    EXPECT_EQ(file.ReadString("S", "missing", "d"), "d");
    EXPECT_EQ(file.ReadString("T", "str", "d"), "d");
    EXPECT_EQ(file.ReadInteger("S", "num", -1), 42);
    EXPECT_EQ(file.ReadInteger("S", "neg", -1), -7);
    EXPECT_EQ(file.ReadInteger("S", "hex", -1), 31);
    EXPECT_EQ(file.ReadInteger("S", "bad", -1), -1);
    EXPECT_EQ(file.ReadInteger("S", "big", -1), -1);
    EXPECT_EQ(file.ReadInteger("S", "empty", -1), -1);
    EXPECT_EQ(file.ReadInteger("S", "str", 5), 5);
    EXPECT_TRUE(file.ReadBool("S", "one", false));
    EXPECT_TRUE(file.ReadBool("S", "num", false));
    EXPECT_FALSE(file.ReadBool("S", "zero", true));
    EXPECT_FALSE(file.ReadBool("S", "word", false));
    EXPECT_TRUE(file.ReadBool("S", "word", true));
    EXPECT_TRUE(file.ReadBool("S", "missing", true));

    SettingsFile writer;
    writer.WriteBool("S", "one", false);
    writer.WriteBool("S", "new", true);
    EXPECT_FALSE(file.ReadBool("S", "one", true));
    EXPECT_EQ(file.ReadString("S", "new", ""), "1");
    writer.EraseSection("s");
    EXPECT_EQ(file.ReadString("S", "num", "gone"), "gone");
}

TEST_F(SettingsFileTest, ValuesLongerThanTheReadLimitAreRefused) {
    SettingsFile file;
    const std::string longest(platform::kMaxProfileValueLength, 'v');
    file.WriteString("S", "k", longest);
    EXPECT_EQ(file.ReadString("S", "k", ""), longest);
    const std::string before = IniText();
    EXPECT_EQ(ErrorOf([&] { file.WriteString("S", "k", longest + "v"); }),
              std::string("Unable to write to ") + kIniDrivePath);
    EXPECT_EQ(IniText(), before);
}

TEST_F(SettingsFileTest, ReadOnlyFileIsRefusedWithTheErrorAndLeftAsItWas) {
    SetIniText("[1_WORKSTATION]\n1_PATH=C:\\Data\n");
    ASSERT_EQ(::chmod(Ini().c_str(), 0444), 0);
    SettingsFile file;
    const std::string expected = std::string("Unable to write to ") + kIniDrivePath;
    EXPECT_EQ(ErrorOf([&] { file.WriteString("1_WORKSTATION", "1_PATH", "C:\\Other"); }), expected);
    EXPECT_EQ(ErrorOf([&] { file.WriteBool("1_WORKSTATION", "1_MERGE", true); }), expected);
    EXPECT_EQ(ErrorOf([&] { file.EraseSection("1_WORKSTATION"); }), expected);
    EXPECT_EQ(ErrorOf([] {
                  AddFolderGroup(FolderEntry{"C:\\New", 3, "1", false, false});
              }),
              expected);
    EXPECT_EQ(ErrorOf([] { DeleteFolderGroup(1); }), expected);
    EXPECT_EQ(IniText(), "[1_WORKSTATION]\n1_PATH=C:\\Data\n");
    EXPECT_EQ(EntriesOf(Ini().parent_path()), std::vector<std::string>{"tarnwick.INI"});
}

// An installed program, or one on a write-protected stick: the folder beside the executable may
// not be written, so this user's settings are a copy of the file under the home folder.
TEST_F(SettingsFileTest, FolderThatMayNotBeWrittenKeepsAPerUserCopy) {
    const std::string content = "[1_WORKSTATION]\n1_PATH=C:\\Data\n";
    const fs::path home = dir_ / "C" / "home" / "ann";
    const fs::path copy = fs::path(platform::PerUserProfilePath(home.string(), Ini().string()));
    const std::string copyDrivePath = *platform::ToDrivePath(copy.string());
    ASSERT_EQ(copyDrivePath.rfind("C:\\home\\ann\\.local\\share\\tarnwick\\virtual-store\\", 0),
              0U);

    // Checked in a child that cannot write the folder; the answer names the first wrong step.
    const auto check = [&] {
        platform::SetHomeFolderForTesting(home.string());
        SettingsFile file;
        if (file.ReadString("1_WORKSTATION", "1_PATH", "") != "C:\\Data") {
            return 1;  // the file beside the executable is read until the first change
        }
        file.WriteString("1_WORKSTATION", "1_MERGE", "1");
        if (ReadFile(copy) != content + "1_MERGE=1\n" ||
            SettingsFile().ReadString("1_WORKSTATION", "1_MERGE", "") != "1") {
            return 2;
        }
        file.EraseSection("1_WORKSTATION");  // the copy stays, empty, and hides the original
        if (ReadFile(copy) != "" ||
            SettingsFile().ReadString("1_WORKSTATION", "1_PATH", "") != "") {
            return 3;
        }
        // A copy that may not be read or written is not replaced.
        fs::permissions(copy, fs::perms::none);
        const std::string copyError = ErrorOf([] { SettingsFile().WriteString("S", "k", "v"); });
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        if (copyError != "Unable to write to " + copyDrivePath) {
            return 4;
        }
        // Without a home folder nothing is written; the file beside the executable is still read.
        for (const std::string& noHome : {std::string(), (dir_ / "missing").string()}) {
            platform::SetHomeFolderForTesting(noHome);
            SettingsFile homeless;
            if (homeless.ReadString("1_WORKSTATION", "1_PATH", "") != "C:\\Data" ||
                ErrorOf([&] { homeless.WriteString("S", "k", "v"); }) !=
                    std::string("Unable to write to ") + kIniDrivePath) {
                return 5;
            }
        }
        return 0;
    };

    SetIniText(content);
    fs::create_directories(home);
    ASSERT_EQ(::chmod(Ini().c_str(), 0666), 0);
    ASSERT_EQ(::chmod(Ini().parent_path().c_str(), 0555), 0);
    testing::OpenUpForNobody(home);
    EXPECT_EQ(RunUnprivileged(check), 0) << "as a user who may not write the folder";
    EXPECT_EQ(IniText(), content);
    EXPECT_EQ(EntriesOf(Ini().parent_path()), std::vector<std::string>{"tarnwick.INI"});

    if (!RunningAsRoot()) {
        return;
    }
    // Root may write every folder, but not one on a read-only medium.
    ASSERT_EQ(::chmod(Ini().parent_path().c_str(), 0755), 0);
    fs::remove_all(dir_ / "C" / "home");
    fs::create_directories(home);
    const int onReadOnlyMedium = testing::RunInChild([&] {
        const std::string folder = Ini().parent_path().string();
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) !=
                0) {
            return 77;
        }
        return check();
    });
    if (onReadOnlyMedium == 77) {
        GTEST_SKIP() << "cannot make a read-only mount in a mount namespace";
    }
    EXPECT_EQ(onReadOnlyMedium, 0) << "as root on a read-only medium";
    EXPECT_EQ(IniText(), content);
}

TEST_F(SettingsFileTest, FileOfAnotherUserIsRefusedEvenInAWritableFolder) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs root to give the file to another user";
    }
    const std::string content = "[1_WORKSTATION]\n1_PATH=C:\\Data\n";
    SetIniText(content);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir_ / "E").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(Ini().parent_path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(Ini().c_str(), 0644), 0);
    const int result = RunUnprivileged([] {
        SettingsFile file;
        const std::string error =
            ErrorOf([&] { file.WriteString("1_WORKSTATION", "1_PATH", "C:\\Other"); });
        return error == std::string("Unable to write to ") + kIniDrivePath ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(IniText(), content);
}

TEST_F(SettingsFileTest, RootFullDiskLeavesTheFileAsItWas) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "needs root to mount a small tmpfs volume";
    }
    const fs::path volume = dir_ / "F";
    fs::create_directories(volume);
    if (::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs volume: " << std::strerror(errno);
    }
    struct Unmount {
        const fs::path& path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{volume};
    drives_->Set('F', {volume.string(), platform::kDriveRemovable, 42, "", true, true});
    platform::SetExecutablePathForTesting((volume / "tarnwick").string());

    SettingsFile file;
    ASSERT_EQ(file.Path(), "F:\\tarnwick.INI");
    file.WriteString("1_WORKSTATION", "1_PATH", "C:\\Before");
    const std::string before = ReadFile(volume / "tarnwick.INI");

    {
        std::ofstream filler(volume / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && filler.write(block.data(), block.size()); ++i) {
            filler.flush();
        }
    }
    EXPECT_EQ(ErrorOf([&] { file.WriteString("1_WORKSTATION", "1_PATH", "C:\\After"); }),
              "Unable to write to F:\\tarnwick.INI");
    EXPECT_EQ(ReadFile(volume / "tarnwick.INI"), before);
    EXPECT_EQ(EntriesOf(volume), (std::vector<std::string>{"filler", "tarnwick.INI"}));

    fs::remove(volume / "filler");
    file.WriteString("1_WORKSTATION", "1_PATH", "C:\\After");
    EXPECT_EQ(file.ReadString("1_WORKSTATION", "1_PATH", ""), "C:\\After");
}

// The program and its settings carried on a FAT stick: the file is rewritten again and again,
// although FAT keeps no permission bits (its FUSE driver refuses every change of mode).
TEST_F(SettingsFileTest, RootFatStickTakesEveryWrite) {
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "mounting a FAT image needs root";
    }
    const fs::path volume = dir_ / "F";
    fs::create_directories(volume);
    drives_->Set('F', {volume.string(), platform::kDriveRemovable, 42, "", true, true});
    const int result = testing::RunOnFatStick(dir_ / "fat.img", volume, [&] {
        try {
            platform::SetExecutablePathForTesting((volume / "tarnwick").string());
            SettingsFile file;
            file.WriteString("S", "k", "1");
            file.WriteString("S", "k", "2");
            file.EraseSection("S");
            const FolderEntry source{"C:\\Data", 3, "7", false, true};
            const FolderEntry destination{"F:\\Backup", 2, "42", true, false};
            const bool right = AddFolderGroup(source) == 1 && AddFolderEntry(1, destination) == 2 &&
                               DeleteFolderEntry(1, 2) && AddFolderEntry(1, destination) == 2 &&
                               ListFolderEntries(1).size() == 1 &&
                               file.ReadString("S", "k", "gone") == "gone";
            return right ? 0 : 1;
        } catch (const SettingsError&) {
            return 2;
        }
    });
    if (result == testing::kNoFatStick) {
        GTEST_SKIP() << "no FAT stick: mkfs.vfat, or both the kernel's vfat and fusefat, missing";
    }
    EXPECT_EQ(result, 0) << "1: wrong answers, 2: a write was refused";
}

TEST_F(SettingsFileTest, WithoutTheExecutablesPathReadsGiveDefaultsAndWritesFail) {
    SetIniText("[1_WORKSTATION]\n1_PATH=C:\\Data\n");
    platform::SetExecutablePathForTesting("");
    SettingsFile file;
    EXPECT_EQ(file.Path(), "");
    EXPECT_EQ(file.ReadString("1_WORKSTATION", "1_PATH", "d"), "d");
    const std::string expected =
        "Unable to write to the settings file (the program's path is unknown)";
    EXPECT_EQ(ErrorOf([&] { file.WriteString("S", "k", "v"); }), expected);
    EXPECT_EQ(ErrorOf([&] { file.EraseSection("S"); }), expected);
    EXPECT_TRUE(ListFolderGroups().empty());
    EXPECT_EQ(ErrorOf([] {
                  AddFolderGroup(FolderEntry{"C:\\New", 3, "1", false, false});
              }),
              expected);

    // The executable's drive lost its medium: the file is named but cannot be reached.
    platform::SetExecutablePathForTesting((dir_ / "E" / "Tools" / "tarnwick").string());
    drives_->SetMedium('E', false);
    SettingsFile unreachable;
    EXPECT_EQ(unreachable.Path(), kIniDrivePath);
    EXPECT_EQ(unreachable.ReadString("1_WORKSTATION", "1_PATH", "d"), "d");
    EXPECT_EQ(ErrorOf([&] { unreachable.WriteString("S", "k", "v"); }),
              std::string("Unable to write to ") + kIniDrivePath);
    drives_->SetMedium('E', true);
    EXPECT_EQ(IniText(), "[1_WORKSTATION]\n1_PATH=C:\\Data\n");
}

}  // namespace
}  // namespace tarnwick
