// Profile files on disk: creation, atomic replacement, permissions, files that must not be
// touched.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/profile/profile.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Names in the folder other than `keep`: left-over temporary files would show here.
std::vector<std::string> OtherEntries(const fs::path& folder, const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() != keep) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

mode_t ModeOf(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(ProfileFile, MissingFileReadsEmptyAndTheFirstWriteCreatesIt) {
    const TempDir dir;
    const fs::path ini = dir / "tarnwick.INI";
    ProfileFile file(ini.string());
    EXPECT_EQ(file.Read("s", "k"), std::nullopt);
    EXPECT_EQ(LoadProfileFile(ini.string()).state, ProfileFileState::kMissing);
    EXPECT_FALSE(fs::exists(ini));
    // Erasing from a missing file creates nothing.
    EXPECT_TRUE(file.EraseSection("s"));
    EXPECT_FALSE(fs::exists(ini));

    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(file.Write("s", "k", "v"));
    EXPECT_EQ(ReadFile(ini), "[s]\nk=v\n");
    EXPECT_EQ(ModeOf(ini), 0666 & ~mask);
    EXPECT_EQ(file.Read("S", "K"), "v");
    EXPECT_TRUE(OtherEntries(dir.path(), "tarnwick.INI").empty());

    // A folder that does not exist is not created.
    ProfileFile nowhere((dir / "missing" / "x.INI").string());
    EXPECT_FALSE(nowhere.Write("s", "k", "v"));
}

TEST(ProfileFile, ReplacesTheFileWholeAndKeepsItsPermissions) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    WriteFile(ini, "; mine\r\n[s]\r\nk=old\r\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);

    ProfileFile file(ini.string());
    ASSERT_TRUE(file.Write("s", "k", "new"));
    EXPECT_EQ(ReadFile(ini), "; mine\r\n[s]\r\nk=new\r\n");
    EXPECT_EQ(ModeOf(ini), 0640U);
    struct stat after {};
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "written in place instead of replaced";
    EXPECT_TRUE(OtherEntries(dir.path(), "t.INI").empty());

    // A write that changes nothing leaves the file alone.
    ASSERT_TRUE(file.Write("s", "k", "new"));
    struct stat again {};
    ASSERT_EQ(::stat(ini.c_str(), &again), 0);
    EXPECT_EQ(again.st_ino, after.st_ino);
}

TEST(ProfileFile, ReadOnlyFileIsRefusedAlsoForRoot) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    const std::string content = "[s]\nk=v\n";
    WriteFile(ini, content);
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    ProfileFile file(ini.string());
    EXPECT_FALSE(file.Write("s", "k", "changed"));
    EXPECT_FALSE(file.Write("s", "new", "1"));
    EXPECT_FALSE(file.EraseSection("s"));
    EXPECT_EQ(ReadFile(ini), content);
    EXPECT_EQ(file.Read("s", "k"), "v");
    EXPECT_TRUE(OtherEntries(dir.path(), "t.INI").empty());
}

TEST(ProfileFile, ReadingNeverChangesTheFile) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    const std::string content = "[s]\r\nk = v \r\n[s]\r\nk=dup\r\n";
    WriteFile(ini, content, testing::kBaseTime);
    struct stat before {};
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);
    for (int i = 0; i < 3; ++i) {
        ProfileFile file(ini.string());
        EXPECT_EQ(file.Read("s", "k"), "v");
        EXPECT_EQ(file.Read("s", "missing"), std::nullopt);
        EXPECT_EQ(LoadProfileFile(ini.string()).text, content);
    }
    struct stat after {};
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(testing::LastWrite(ini), testing::kBaseTime);
    EXPECT_EQ(ReadFile(ini), content);
}

TEST(ProfileFile, EveryReadSeesTheCurrentFile) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    WriteFile(ini, "[s]\nk=1\n");
    ProfileFile reader(ini.string());
    ASSERT_EQ(reader.Read("s", "k"), "1");

    ProfileFile writer(ini.string());
    ASSERT_TRUE(writer.Write("s", "k", "2"));
    EXPECT_EQ(reader.Read("s", "k"), "2");

    // Changed in place by another program, same size and all (given a time of its own: two
    // changes within one tick of the file-system clock are not told apart).
    {
        std::fstream out(ini, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(6);
        out.put('3');
    }
    testing::SetLastWrite(ini, testing::kBaseTime);
    EXPECT_EQ(reader.Read("s", "k"), "3");

    fs::remove(ini);
    EXPECT_EQ(reader.Read("s", "k"), std::nullopt);
}

TEST(ProfileFile, OversizedFileReadsEmptyAndIsNotDestroyed) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    {
        std::ofstream out(ini, std::ios::binary);
        out << "[s]\nk=v\n";
        out << std::string(kMaxProfileFileSize, ';');
    }
    const auto size = fs::file_size(ini);
    ProfileFile file(ini.string());
    EXPECT_EQ(file.Read("s", "k"), std::nullopt);
    EXPECT_EQ(LoadProfileFile(ini.string()).state, ProfileFileState::kUnusable);
    EXPECT_FALSE(file.Write("s", "k", "x"));
    EXPECT_FALSE(file.EraseSection("s"));
    EXPECT_EQ(fs::file_size(ini), size);
    EXPECT_TRUE(OtherEntries(dir.path(), "t.INI").empty());
}

TEST(ProfileFile, FoldersAndFifosInThePlaceOfTheFileAreLeftAlone) {
    const TempDir dir;
    const fs::path fifo = dir / "fifo.INI";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ProfileFile fromFifo(fifo.string());
    EXPECT_EQ(fromFifo.Read("s", "k"), std::nullopt);
    EXPECT_FALSE(fromFifo.Write("s", "k", "v"));
    EXPECT_TRUE(fs::is_fifo(fifo));

    const fs::path folder = dir / "folder.INI";
    fs::create_directory(folder);
    ProfileFile fromFolder(folder.string());
    EXPECT_EQ(fromFolder.Read("s", "k"), std::nullopt);
    EXPECT_FALSE(fromFolder.Write("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(folder));

    ProfileFile unnamed("");
    EXPECT_EQ(unnamed.Read("s", "k"), std::nullopt);
    EXPECT_FALSE(unnamed.Write("s", "k", "v"));
}

TEST(ProfileFile, WritesThroughALinkToItsTarget) {
    const TempDir dir;
    const fs::path real = dir / "store" / "real.INI";
    WriteFile(real, "[s]\nk=1\n");
    const fs::path link = dir / "t.INI";
    fs::create_symlink(real, link);
    ProfileFile file(link.string());
    ASSERT_TRUE(file.Write("s", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "[s]\nk=2\n");
    EXPECT_EQ(file.Read("s", "k"), "2");
}

TEST(ProfileFile, UnstorableValuesAreRefusedWithoutWriting) {
    const TempDir dir;
    const fs::path ini = dir / "t.INI";
    WriteFile(ini, "[s]\nk=v\n");
    ProfileFile file(ini.string());
    EXPECT_FALSE(file.Write("s", "k", "two\nlines"));
    EXPECT_FALSE(file.Write("s]", "k", "v"));
    EXPECT_EQ(ReadFile(ini), "[s]\nk=v\n");
}

TEST(ProfileFile, PerUserCopyStartsFromTheOriginalInFoldersMadeBelowTheHome) {
    const TempDir dir;
    const fs::path original = dir / "opt" / "t.INI";
    const std::string content = "[s]\nk=v\n";
    WriteFile(original, content);
    const fs::path home = dir / "home";
    fs::create_directories(home);
    const fs::path copy = PerUserProfilePath(home.string(), original.string());
    EXPECT_EQ(copy,
              fs::path(home.string() + "/.local/share/tarnwick/virtual-store" + original.string()));

    ProfileFile file(ProfileStore{copy.string(), original.string(), home.string()});
    EXPECT_EQ(file.Read("s", "k"), "v");
    ASSERT_TRUE(file.EraseSection("other"));  // changes nothing: no copy yet
    EXPECT_FALSE(fs::exists(home / ".local"));
    ASSERT_TRUE(file.Write("s", "n", "1"));
    EXPECT_EQ(ReadFile(copy), "[s]\nk=v\nn=1\n");
    EXPECT_EQ(ModeOf(home / ".local"), 0700U);
    EXPECT_EQ(ReadFile(original), content);

    // Folders are never made outside the home folder.
    ProfileFile astray(
        ProfileStore{(dir / "elsewhere" / "t.INI").string(), original.string(), home.string()});
    EXPECT_FALSE(astray.Write("s", "k", "x"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    // No copy can be named: the original is read and nothing is written.
    ProfileFile homeless(ProfileStore{{}, original.string(), {}});
    EXPECT_EQ(homeless.Read("s", "k"), "v");
    EXPECT_FALSE(homeless.Write("s", "k", "x"));
    EXPECT_EQ(ReadFile(original), content);
}

TEST(ProfileFile, StoreIsTheFileItselfInAFolderThatMayBeWritten) {
    const TempDir dir;
    for (const std::string& path :
         {(dir / "t.INI").string(), (dir / "missing" / "t.INI").string(), std::string()}) {
        const ProfileStore store = ProfileStoreFor(path);
        EXPECT_EQ(store.path, path);
        EXPECT_EQ(store.original, "");
    }
}

}  // namespace
}  // namespace tarnwick::platform
