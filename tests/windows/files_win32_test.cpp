// Files on the system's own services: listings, copies with their times, folders, the replace
// rule, links in a destination and leftovers.
#include <windows.h>
#undef CreateDirectory
#undef FindFirstFile
#undef MoveFile

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/volumes/drives.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

using testing::kBaseTime;
using testing::kOneSecond;
using testing::LastWrite;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A temporary folder with the open folders "from" and "to" in it.
struct Folders {
    Folders() {
        std::filesystem::create_directories(dir / "from");
        std::filesystem::create_directories(dir / "to");
        from = *Directory::Open((dir / "from").string());
        to = *Directory::Open((dir / "to").string());
    }
    TempDir dir;
    Directory from;
    Directory to;
};

std::set<std::string> Names(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(Win32Files, ListingTellsKindsSizesAndTimes) {
    Folders f;
    WriteFile(f.dir / "from" / "a.txt", "12345", kBaseTime);
    std::filesystem::create_directories(f.dir / "from" / "sub");
    auto folder = Directory::Open((f.dir / "from").string());
    ASSERT_TRUE(folder);
    std::set<std::string> files;
    std::set<std::string> subfolders;
    while (const auto name = folder->Next()) {
        (folder->LastIsFolder(*name) ? subfolders : files).insert(std::string(*name));
    }
    EXPECT_EQ(files, std::set<std::string>{"a.txt"});
    EXPECT_EQ(subfolders, std::set<std::string>{"sub"});

    const auto found = folder->Lookup("a.txt");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->size, 5U);
    EXPECT_EQ(found->lastWriteTime, kBaseTime);
    EXPECT_EQ(found->attributes & kAttributeDirectory, 0U);
    // A pattern with wildcards finds through the drive path, "." and ".." first.
    const auto first = FindFirstFile((f.dir / "from" / "*.*").string());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, ".");
    EXPECT_FALSE(folder->Lookup("missing.txt"));
}

TEST(Win32Files, CopiesTakeTheirTimesAndLeaveNoTemporaryFile) {
    Folders f;
    WriteFile(f.dir / "from" / "a.txt", "new", kBaseTime + 3 * kOneSecond);
    WriteFile(f.dir / "to" / "a.txt", "old", kBaseTime);

    EXPECT_TRUE(CopyFileAt(f.from, "a.txt", f.to, "a.txt", false, std::nullopt));
    EXPECT_EQ(ReadFile(f.dir / "to" / "a.txt"), "new");
    EXPECT_EQ(LastWrite(f.dir / "to" / "a.txt"), kBaseTime + 3 * kOneSecond);
    const DWORD attributes = ::GetFileAttributesA((f.dir / "to" / "a.txt").string().c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0U) << "the temporary name's attribute stays";
    EXPECT_EQ(Names(f.dir / "to"), std::set<std::string>{"a.txt"});

    // failIfExists refuses an existing target; a read-only target is never replaced.
    EXPECT_FALSE(CopyFileAt(f.from, "a.txt", f.to, "a.txt", true, std::nullopt));
    WriteFile(f.dir / "to" / "b.txt", "kept");
    ::SetFileAttributesA((f.dir / "to" / "b.txt").string().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CopyFileAt(f.from, "a.txt", f.to, "b.txt", false, std::nullopt));
    EXPECT_EQ(ReadFile(f.dir / "to" / "b.txt"), "kept");
    EXPECT_EQ(Names(f.dir / "to"), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST(Win32Files, FoldersAreMadeOnceAndRenamesNeverReplace) {
    TempDir dir;
    const std::string base = dir.str();
    EXPECT_TRUE(CreateDirectory(base + "\\made"));
    EXPECT_FALSE(CreateDirectory(base + "\\made"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "made"));
    auto made = Directory::Open(base + "\\made");
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->MakeChild("inner"));
    EXPECT_FALSE(made->MakeChild("inner"));
    EXPECT_FALSE(made->MakeChild("bad?name"));

    WriteFile(dir / "one.txt", "1");
    WriteFile(dir / "two.txt", "2");
    EXPECT_FALSE(MoveFile(base + "\\one.txt", base + "\\two.txt"));
    EXPECT_EQ(ReadFile(dir / "two.txt"), "2");
    EXPECT_TRUE(MoveFile(base + "\\one.txt", base + "\\three.txt"));
}

// A folder of a drive is opened from the drive's root one name after the other; missing ones are
// made and counted, and a file where a folder should be is refused with the system's error.
TEST(Win32Files, FoldersOfADriveAreOpenedFromItsRoot) {
    TempDir dir;
    const std::string base = dir.str();
    std::int32_t made = -1;
    FileError why;
    EXPECT_FALSE(Directory::OpenOnDrive(base + "\\new\\inner", false, &made, &why));
    EXPECT_EQ(made, 0);
    EXPECT_EQ(why.error, ERROR_FILE_NOT_FOUND);
    const auto opened = Directory::OpenOnDrive(base + "\\new\\inner", true, &made, &why);
    ASSERT_TRUE(opened) << why.Text();
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new" / "inner"));
    EXPECT_TRUE(opened->MakeChild("deeper"));

    WriteFile(dir / "new" / "file", "in the way");
    why = {};
    EXPECT_FALSE(Directory::OpenOnDrive(base + "\\new\\file\\below", true, &made, &why));
    EXPECT_EQ(made, 0);
    EXPECT_EQ(why.refusal, FileRefusal::kSystem);
    EXPECT_EQ(why.concerns, FileConcern::kFolder);
}

// The one look: a target changed after the copy was decided on and written keeps the user's
// change and the copy leaves nothing behind; from the look to the exchange of the names the
// target is held, so no program can write it in between.
TEST(Win32Files, ATargetChangedBeforeNamingIsLeftAlone) {
    for (const CopyStep stage : {CopyStep::kLooked, CopyStep::kMovedAside}) {
        SCOPED_TRACE(static_cast<int>(stage));
        Folders f;
        WriteFile(f.dir / "from" / "a.txt", "copy", kBaseTime + 10 * kOneSecond);
        WriteFile(f.dir / "to" / "a.txt", "old", kBaseTime);
        const auto decided = f.to.Lookup("a.txt");
        ASSERT_TRUE(decided);
        FileError why;
        auto copy = TemporaryCopy::Write(f.from, "a.txt", f.to, "a.txt", false, std::nullopt,
                                         &*decided, nullptr, false, why);
        ASSERT_TRUE(copy) << why.Text();
        bool edited = false;
        SetCopyStepHookForTests([&](CopyStep at, const std::string&) {
            if (at != stage) {
                return;
            }
            const HANDLE user =
                ::CreateFileA((f.dir / "to" / "a.txt").string().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
            if (user != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                edited = ::WriteFile(user, "edited", 6, &written, nullptr) && written == 6;
                ::CloseHandle(user);
            }
        });
        const FileError failed = copy->NameNow(f.to);
        SetCopyStepHookForTests(nullptr);
        EXPECT_EQ(edited, stage == CopyStep::kLooked);
        EXPECT_EQ(!failed, !edited);
        EXPECT_EQ(failed.refusal, edited ? FileRefusal::kTargetChanged : FileRefusal::kNone);
        EXPECT_EQ(ReadFile(f.dir / "to" / "a.txt"), edited ? "edited" : "copy");
        EXPECT_EQ(Names(f.dir / "to"), std::set<std::string>{"a.txt"});
    }
}

TEST(Win32Files, LinksInADestinationAreNotFollowed) {
    Folders f;
    std::filesystem::create_directories(f.dir / "elsewhere");
    const std::string link = (f.dir / "to" / "link").string();
    if (!::CreateSymbolicLinkA(link.c_str(), (f.dir / "elsewhere").string().c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        GTEST_SKIP() << "this system makes no folder links here";
    }
    const DWORD attributes = ::GetFileAttributesA(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "this system answered that it made a link, but there is none";
    }
    EXPECT_TRUE(f.to.IsLink("link"));
    EXPECT_FALSE(f.to.OpenChild("link", false));
    f.to.RefuseLinks();
    EXPECT_FALSE(f.to.OpenChild("link"));
}

TEST(Win32Files, LeftoversGoAndOtherFilesStay) {
    Folders f;
    WriteFile(f.dir / "to" / ".tarnwick-12-3.tmp", "left by a crash");
    WriteFile(f.dir / "to" / ".tarnwick-notes.tmp", "the user's");
    WriteFile(f.dir / "to" / "kept.txt", "kept");
    // Files of the user's that a copy had moved aside get their names back, or one beside.
    WriteFile(f.dir / "to" / ".tarnwick-kept-12-5-report.txt", "moved aside");
    WriteFile(f.dir / "to" / ".tarnwick-kept-12-6-kept.txt", "older");
    // A copy being written holds its file: that one stays.
    const std::string held = (f.dir / "to" / ".tarnwick-12-4.tmp").string();
    const HANDLE open = ::CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    const FilesGivenBack givenBack = f.to.RemoveLeftoverCopies();
    ::CloseHandle(open);
    EXPECT_EQ(givenBack.ownName, 1U);
    EXPECT_EQ(givenBack.beside, 1U);
    EXPECT_EQ(Names(f.dir / "to"),
              (std::set<std::string>{".tarnwick-12-4.tmp", ".tarnwick-notes.tmp", "kept.txt",
                                     "kept (kept).txt", "report.txt"}));
    EXPECT_EQ(ReadFile(f.dir / "to" / "report.txt"), "moved aside");
    EXPECT_EQ(ReadFile(f.dir / "to" / "kept (kept).txt"), "older");
}

}  // namespace
}  // namespace tarnwick::platform
