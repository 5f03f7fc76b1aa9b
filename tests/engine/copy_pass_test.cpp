#include "engine/copy_pass.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "engine/queries.h"
#include "engine_fixture.h"
#include "platform/files/copies.h"
#include "support/tree.h"
#include "support/unprivileged.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

std::size_t CountFiles(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        count += entry.is_regular_file() ? 1 : 0;
    }
    return count;
}

bool HasTemporaryFiles(const fs::path& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".tarnwick-")) {
            return true;
        }
    }
    return false;
}

TEST(CopyPassTime, AddMillisecondsCarriesIntoTheHighPart) {
    platform::FileTime time = 0x00000005FFFFFFF0ULL;
    AddMilliseconds(time, 1);
    EXPECT_EQ(time, 0x0000000600002700ULL);  // 0xFFFFFFF0 + 10000 wraps, high + 1
    time = 0x0000000500000000ULL;
    AddMilliseconds(time, 65535);
    EXPECT_EQ(time, 0x0000000500000000ULL + 655350000ULL);
    time = 0xFFFFFFFFFFFFFFFFULL;  // the high part wraps as an unsigned 32-bit number
    AddMilliseconds(time, 2000);
    EXPECT_EQ(time, 20000000ULL - 1);
}

TEST(CopyPassTime, IsNewerAllowsTwoSeconds) {
    EXPECT_FALSE(IsNewer(kBaseTime, kBaseTime));
    EXPECT_FALSE(IsNewer(kBaseTime + 2 * kOneSecond, kBaseTime));
    EXPECT_TRUE(IsNewer(kBaseTime + 2 * kOneSecond + 1, kBaseTime));
    EXPECT_FALSE(IsNewer(kBaseTime, kBaseTime + kOneSecond));
    // Across the carry from the low into the high 32 bits.
    const platform::FileTime nearCarry = 0x01D5C00000000000ULL - 5;
    EXPECT_FALSE(IsNewer(nearCarry + 20000000, nearCarry));
    EXPECT_TRUE(IsNewer(nearCarry + 20000001, nearCarry));
}

class CopyPassTest : public EngineTest {
protected:
    CopyPassTest() { progress_.Continue = true; }

    std::int32_t Sync(bool subfolders = true) {
        return SyncFolders("E:\\Src", "F:\\Dst", subfolders, progress_);
    }

    const fs::path src_ = e_ / "Src";
    const fs::path dst_ = f_ / "Dst";
    CopyProgress progress_;
};

TEST_F(CopyPassTest, CopiesMissingAndNewerFilesWithTheSourceTime) {
    WriteFile(src_ / "new.txt", "new", kBaseTime);
    WriteFile(src_ / "two.txt", "source", kBaseTime + 2 * kOneSecond);
    WriteFile(dst_ / "two.txt", "dest", kBaseTime);
    WriteFile(src_ / "twoplus.txt", "source", kBaseTime + 2 * kOneSecond + 1);
    WriteFile(dst_ / "twoplus.txt", "dest", kBaseTime);
    WriteFile(src_ / "equal.txt", "source", kBaseTime);
    WriteFile(dst_ / "equal.txt", "dest", kBaseTime);
    WriteFile(src_ / "older.txt", "source", kBaseTime);
    WriteFile(dst_ / "older.txt", "newer dest", kBaseTime + 100 * kOneSecond);
    WriteFile(dst_ / "only-here.txt", "stays", kBaseTime);
    fs::create_directories(dst_ / "only-here-folder");

    EXPECT_EQ(Sync(), 2);
    EXPECT_EQ(progress_.FilesCopied, 2);
    EXPECT_EQ(ReadFile(dst_ / "new.txt"), "new");
    EXPECT_EQ(LastWrite(dst_ / "new.txt"), kBaseTime);
    EXPECT_EQ(ReadFile(dst_ / "two.txt"), "dest");
    EXPECT_EQ(ReadFile(dst_ / "twoplus.txt"), "source");
    EXPECT_EQ(LastWrite(dst_ / "twoplus.txt"), kBaseTime + 2 * kOneSecond + 1);
    EXPECT_EQ(ReadFile(dst_ / "equal.txt"), "dest");
    EXPECT_EQ(ReadFile(dst_ / "older.txt"), "newer dest");
    EXPECT_EQ(ReadFile(dst_ / "only-here.txt"), "stays");
    EXPECT_TRUE(fs::is_directory(dst_ / "only-here-folder"));
    EXPECT_FALSE(HasTemporaryFiles(dst_));

    EXPECT_EQ(Sync(), 0);  // nothing left to do
    EXPECT_EQ(progress_.FilesCopied, 2);
}

TEST_F(CopyPassTest, MissingFoldersGiveMinusOneAndMinusTwo) {
    EXPECT_EQ(Sync(), -1);
    fs::create_directories(src_);
    WriteFile(src_ / "a", "a");
    EXPECT_EQ(Sync(), -2);
    EXPECT_FALSE(fs::exists(dst_));  // a run never creates the destination folder itself
    EXPECT_EQ(SyncFolders("\\\\server\\share\\x", "F:\\", true, progress_), -1);
    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\", true, progress_), 1);

    // The pass on its own makes the destination path, and -2 when it cannot.
    EXPECT_EQ(CopyFolderPass("E:\\Src", "F:\\New\\Deeper", false, nullptr), 1);
    EXPECT_EQ(ReadFile(f_ / "New" / "Deeper" / "a"), "a");
    EXPECT_EQ(CopyFolderPass("E:\\Src", "Q:\\New\\Deeper", false, nullptr), -2);
    EXPECT_EQ(CopyFolderPass("E:\\Missing", "F:\\Other", false, nullptr), -1);
    EXPECT_FALSE(fs::exists(f_ / "Other"));
}

TEST_F(CopyPassTest, SubfoldersAreCreatedAndCounted) {
    WriteFile(src_ / "top.txt", "t", kBaseTime);
    WriteFile(src_ / "a" / "b" / "deep.txt", "d", kBaseTime);
    WriteFile(src_ / "a" / "mid.txt", "m", kBaseTime);
    fs::create_directories(src_ / "empty");
    fs::create_directories(src_ / ".hidden");
    WriteFile(src_ / ".hidden" / ".dotfile", "h", kBaseTime);
    fs::create_directories(dst_);

    EXPECT_EQ(Sync(), 4);
    EXPECT_EQ(ReadFile(dst_ / "a" / "b" / "deep.txt"), "d");
    EXPECT_EQ(ReadFile(dst_ / ".hidden" / ".dotfile"), "h");
    EXPECT_TRUE(fs::is_directory(dst_ / "empty"));
    EXPECT_TRUE(fs::is_empty(dst_ / "empty"));
}

TEST_F(CopyPassTest, WithoutSubfoldersOnlyTheFolderOwnFilesAreHandled) {
    WriteFile(src_ / "top.txt", "t", kBaseTime);
    WriteFile(src_ / "sub" / "inner.txt", "i", kBaseTime);
    WriteFile(src_ / "folder-vs-file" / "x", "x", kBaseTime + 1000 * kOneSecond);
    WriteFile(dst_ / "folder-vs-file", "older dest file", kBaseTime);

    EXPECT_EQ(Sync(false), 1);
    EXPECT_EQ(ReadFile(dst_ / "top.txt"), "t");
    EXPECT_FALSE(fs::exists(dst_ / "sub"));
    EXPECT_EQ(ReadFile(dst_ / "folder-vs-file"), "older dest file");
}

TEST_F(CopyPassTest, FoldersAndFilesNeverReplaceEachOther) {
    WriteFile(src_ / "name", "a file", kBaseTime + 1000 * kOneSecond);
    WriteFile(dst_ / "name" / "kept.txt", "inside a folder", kBaseTime);
    fs::last_write_time(dst_ / "name", fs::file_time_type{});  // make the folder look old
    WriteFile(src_ / "other" / "in.txt", "x", kBaseTime);
    WriteFile(dst_ / "other", "a file where the source has a folder", kBaseTime);

    EXPECT_EQ(Sync(), 0);
    EXPECT_EQ(ReadFile(dst_ / "name" / "kept.txt"), "inside a folder");
    EXPECT_EQ(ReadFile(dst_ / "other"), "a file where the source has a folder");
    EXPECT_FALSE(HasTemporaryFiles(dst_));
}

TEST_F(CopyPassTest, ReadOnlyFilesBothWays) {
    // A read-only source is copied, keeps its permission bits but is writable by its owner (so
    // that the next run can update it), gets its time and counts.
    WriteFile(src_ / "ro-source.txt", "read-only source", kBaseTime);
    fs::permissions(src_ / "ro-source.txt", fs::perms::owner_read | fs::perms::group_read);
    // A read-only destination is not replaced and not counted, also for root.
    WriteFile(src_ / "ro-dest.txt", "newer source", kBaseTime + 100 * kOneSecond);
    WriteFile(dst_ / "ro-dest.txt", "read-only dest", kBaseTime);
    fs::permissions(dst_ / "ro-dest.txt", fs::perms::owner_read | fs::perms::others_read);

    EXPECT_EQ(Sync(), 1);
    EXPECT_EQ(ReadFile(dst_ / "ro-source.txt"), "read-only source");
    EXPECT_EQ(LastWrite(dst_ / "ro-source.txt"), kBaseTime);
    EXPECT_EQ(fs::status(dst_ / "ro-source.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadFile(dst_ / "ro-dest.txt"), "read-only dest");
    EXPECT_EQ(progress_.FilesCopied, 1);
    // The read-only source, made writable and edited, is updated by the next run.
    fs::permissions(src_ / "ro-source.txt", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile(src_ / "ro-source.txt", "edited", kBaseTime + 100 * kOneSecond);
    EXPECT_EQ(Sync(), 1);
    EXPECT_EQ(ReadFile(dst_ / "ro-source.txt"), "edited");
}

TEST_F(CopyPassTest, AFailedCopyLeavesTheOldFileIntact) {
    // The copy runs out of room half-way (a file size limit stands in for a full disk).
    WriteFile(src_ / "big.bin", std::string(256 * 1024, 'n'), kBaseTime + 100 * kOneSecond);
    WriteFile(dst_ / "big.bin", "the old contents", kBaseTime);
    OpenUpForNobody(temp_.path());
    const int copied = RunUnprivileged([] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 200;
        }
        return CopyFolderPass("E:\\Src", "F:\\Dst", true, nullptr);
    });
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(ReadFile(dst_ / "big.bin"), "the old contents");
    EXPECT_EQ(LastWrite(dst_ / "big.bin"), kBaseTime);
    EXPECT_FALSE(HasTemporaryFiles(dst_));
}

TEST_F(CopyPassTest, RefusedAccessIsPassedOverSilently) {
    WriteFile(src_ / "open" / "a.txt", "a", kBaseTime);
    WriteFile(src_ / "locked" / "b.txt", "b", kBaseTime);
    WriteFile(src_ / "unreadable.txt", "u", kBaseTime + 100 * kOneSecond);
    WriteFile(src_ / "z.txt", "z", kBaseTime);
    WriteFile(dst_ / "unreadable.txt", "old", kBaseTime);
    WriteFile(src_ / "ro-folder" / "c.txt", "new c", kBaseTime + 100 * kOneSecond);
    WriteFile(dst_ / "ro-folder" / "c.txt", "old c", kBaseTime);
    OpenUpForNobody(temp_.path());
    fs::permissions(src_ / "locked", fs::perms::none);
    fs::permissions(src_ / "unreadable.txt", fs::perms::none);
    fs::permissions(dst_ / "ro-folder", fs::perms::owner_read | fs::perms::owner_exec);

    EXPECT_EQ(RunUnprivileged([] { return CopyFolderPass("E:\\Src", "F:\\Dst", true, nullptr); }),
              2);
    EXPECT_EQ(ReadFile(dst_ / "open" / "a.txt"), "a");
    EXPECT_EQ(ReadFile(dst_ / "z.txt"), "z");
    EXPECT_FALSE(fs::exists(dst_ / "locked"));  // its listing was refused: nothing created
    EXPECT_EQ(ReadFile(dst_ / "unreadable.txt"), "old");
    EXPECT_EQ(ReadFile(dst_ / "ro-folder" / "c.txt"), "old c");
    EXPECT_FALSE(HasTemporaryFiles(dst_));
}

// What a pass leaves behind, as a user who may not do everything: each case is counted with its
// reason, the files of it and the folders of it apart.
TEST_F(CopyPassTest, WhatIsLeftBehindIsCountedWithItsReason) {
    const auto none = fs::perms::none;
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const auto listable =
        readOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    const struct {
        const char* what;
        std::function<void(const fs::path& src, const fs::path& dst)> make;   // as root
        std::function<void(const fs::path& src, const fs::path& dst)> close;  // after opening up
        int notCopied;
        int folders;
        int readOnly;
        const char* reason;
        int copied = 1;  // "fine", which nothing keeps from being copied, unless said
    } cases[] = {
        {"an unreadable source folder",
         [](const fs::path& src, const fs::path&) {
             WriteFile(src / "locked" / "b", "b", kBaseTime);
         },
         [none](const fs::path& src, const fs::path&) { fs::permissions(src / "locked", none); }, 0,
         1, 0, "permission denied"},
        {"a file in the way of a folder",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "sub" / "c", "c", kBaseTime);
             WriteFile(dst / "sub", "a file", kBaseTime);
         },
         {},
         0,
         1,
         0,
         "a file in the way"},
        {"an unopenable destination folder",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "closed" / "d", "d", kBaseTime);
             fs::create_directories(dst / "closed");
         },
         [none](const fs::path&, const fs::path& dst) { fs::permissions(dst / "closed", none); }, 0,
         1, 0, "permission denied"},
        {"a read-only destination file",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "r", "new", kBaseTime + 100 * kOneSecond);
             WriteFile(dst / "r", "old", kBaseTime);
         },
         [readOnly](const fs::path&, const fs::path& dst) { fs::permissions(dst / "r", readOnly); },
         0, 0, 1, ""},
        {"a read-only destination and a new subfolder",
         [](const fs::path& src, const fs::path& dst) {
             WriteFile(src / "new" / "n", "n", kBaseTime);
             WriteFile(dst / "fine", "copied whatever else happens", kBaseTime);  // up to date
         },
         [listable](const fs::path&, const fs::path& dst) { fs::permissions(dst, listable); }, 0, 1,
         0, "permission denied", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(src_);
        fs::remove_all(dst_);
        WriteFile(src_ / "fine", "copied whatever else happens", kBaseTime);
        fs::create_directories(dst_);
        c.make(src_, dst_);
        OpenUpForNobody(temp_.path());
        if (c.close) {
            c.close(src_, dst_);
        }
        PassFailures failures;
        const std::int32_t copied = RunUnprivileged([&] {
            const std::int32_t result =
                CopyFolderPass("E:\\Src", "F:\\Dst", true, nullptr, {{}, &failures});
            // The counts through the exit status: small numbers, three bits each.
            return result < 0 || result > 1 ? 255
                                            : failures.NotCopied | failures.FoldersNotCopied << 3 |
                                                  failures.ReadOnly << 6 | result << 7;
        });
        fs::permissions(dst_, fs::perms::all);
        fs::permissions(src_, fs::perms::all);
        ASSERT_NE(copied, 255);
        EXPECT_EQ(copied & 7, c.notCopied);
        EXPECT_EQ(copied >> 3 & 7, c.folders);
        EXPECT_EQ(copied >> 6 & 1, c.readOnly);
        EXPECT_EQ(copied >> 7, c.copied);
        EXPECT_EQ(ReadFile(dst_ / "fine"), "copied whatever else happens");
        // The reason, from a pass of root's own where root is refused alike.
        if (std::string_view(c.reason) == "a file in the way") {
            EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures}), 0);
            EXPECT_EQ(failures.FolderReason, c.reason);
        }
        for (const auto& entry : fs::recursive_directory_iterator(temp_.path())) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        }
    }
}

// A stick's saved folder that is a link by now (to a private folder of the home folder), or
// whose subfolder becomes one while the pass runs: nothing is written there or read from there,
// in either direction of a Merge.
TEST_F(CopyPassTest, AFolderOfTheStickThatIsALinkLeadsNowhere) {
    const fs::path home = temp_ / "home";  // off both drives
    const fs::path stick = e_;             // E: is the removable drive
    const struct {
        const char* what;
        bool topIsLink;
    } cases[] = {{"the saved folder", true}, {"a subfolder, mid-run", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home);
        fs::remove_all(stick);
        fs::remove_all(f_);
        WriteFile(home / "private" / "key", "secret", kBaseTime);
        WriteFile(f_ / "Docs" / "doc", "doc", kBaseTime);
        WriteFile(f_ / "Docs" / "sub" / "doc2", "doc2", kBaseTime);
        if (c.topIsLink) {
            fs::create_directories(stick);
            fs::create_directory_symlink(home / "private", stick / "Backup");
        } else {
            WriteFile(stick / "Backup" / "a", "a", kBaseTime);
            fs::create_directories(stick / "Backup" / "sub");
        }
        // At the first file call of a copy, the stick's subfolder becomes a link.
        bool swapped = false;
        platform::SetCopyStepHookForTests([&](platform::CopyStep, const std::string&) {
            if (!c.topIsLink && !swapped) {
                swapped = true;
                fs::remove_all(stick / "Backup" / "sub");
                fs::create_directory_symlink(home / "private", stick / "Backup" / "sub");
            }
        });
        const std::int32_t forward = SyncFolders("F:\\Docs", "E:\\Backup", true, progress_,
                                                 {GroupDestination::kPassDestination, nullptr});
        const std::int32_t back = SyncFolders("E:\\Backup", "F:\\Docs", true, progress_,
                                              {GroupDestination::kPassSource, nullptr});
        platform::SetCopyStepHookForTests(nullptr);
        if (c.topIsLink) {
            EXPECT_EQ(forward, -2);
            EXPECT_EQ(back, -1);
        }
        EXPECT_EQ(ReadTree(home / "private"), (Tree{{"key", File("secret", kBaseTime)}}));
        EXPECT_FALSE(fs::exists(f_ / "Docs" / "key"));
        EXPECT_FALSE(fs::exists(f_ / "Docs" / "sub" / "key"));
    }
}

TEST_F(CopyPassTest, LinksAreFollowedButNeverInCircles) {
    WriteFile(src_ / "a" / "b" / "f.txt", "f", kBaseTime);
    fs::create_directory_symlink(src_ / "a", src_ / "a" / "b" / "up");  // back to an ancestor
    fs::create_directory_symlink("..", src_ / "a" / "parent");
    fs::create_symlink("loop2", src_ / "loop1");  // two links pointing at each other
    fs::create_symlink("loop1", src_ / "loop2");
    fs::create_symlink("nowhere", src_ / "dangling");
    WriteFile(e_ / "Elsewhere" / "outside.txt", "o", kBaseTime);
    fs::create_directory_symlink(e_ / "Elsewhere", src_ / "linked");
    fs::create_symlink(src_ / "a" / "b" / "f.txt", src_ / "file-link");
    fs::create_directories(dst_);

    EXPECT_EQ(Sync(), 3);
    EXPECT_EQ(ReadFile(dst_ / "a" / "b" / "f.txt"), "f");
    EXPECT_EQ(ReadFile(dst_ / "linked" / "outside.txt"), "o");
    EXPECT_EQ(ReadFile(dst_ / "file-link"), "f");
    EXPECT_FALSE(fs::is_symlink(dst_ / "file-link"));
    EXPECT_FALSE(fs::exists(dst_ / "a" / "b" / "up"));
    EXPECT_FALSE(fs::exists(dst_ / "a" / "parent"));
    EXPECT_FALSE(fs::exists(dst_ / "loop1"));
}

// Every file below `root` but those below the folders left out, with its contents and time.
std::map<std::string, std::pair<std::string, platform::FileTime>> Snapshot(
    const fs::path& root, const std::vector<fs::path>& leftOut) {
    std::map<std::string, std::pair<std::string, platform::FileTime>> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (std::find(leftOut.begin(), leftOut.end(), it->path()) != leftOut.end()) {
            it.disable_recursion_pending();
        } else if (it->is_symlink() || !it->is_regular_file()) {
            files[it->path().string()] = {it->is_directory() ? "folder" : "link", 0};
        } else {
            files[it->path().string()] = {ReadFile(it->path()), LastWrite(it->path())};
        }
    }
    return files;
}

// A destination (a stick, a share) holds links to places outside it, where the source has a
// folder and files of the same names: neither pass of a Merge writes or reads through them.
TEST_F(CopyPassTest, LinksInAGroupsDestinationAreNeitherWrittenNorReadThrough) {
    const fs::path outside = f_ / "Outside";
    WriteFile(outside / "authorized_keys", "the user's own keys", kBaseTime);
    WriteFile(outside / "id_rsa", "private key", kBaseTime);
    WriteFile(src_ / "x" / "authorized_keys", "a stranger's key", kBaseTime + 100 * kOneSecond);
    WriteFile(src_ / "notes.txt", "newer notes", kBaseTime + 100 * kOneSecond);
    WriteFile(src_ / "a.txt", "a", kBaseTime);
    fs::create_directories(dst_);
    fs::create_directory_symlink(outside, dst_ / "x");
    fs::create_symlink(outside / "authorized_keys", dst_ / "notes.txt");
    fs::create_symlink(outside / "id_rsa", dst_ / "secret");
    fs::create_directory_symlink(outside, dst_ / "y");
    // The source's own link up: the way back must not write through it either.
    fs::create_directory_symlink("..", src_ / "up");
    WriteFile(dst_ / "up" / "planted.txt", "planted", kBaseTime);
    const auto before = Snapshot(e_.parent_path(), {src_, dst_});

    PassFailures forward;
    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &forward}), 1);
    EXPECT_EQ(ReadFile(dst_ / "a.txt"), "a");
    EXPECT_EQ(forward.NotCopied, 2);  // x and notes.txt
    EXPECT_EQ(forward.Reason, "a link, which is not followed");
    EXPECT_FALSE(forward.DestinationFailed);

    PassFailures back;
    EXPECT_EQ(
        SyncFolders("F:\\Dst", "E:\\Src", true, progress_, {GroupDestination::kPassSource, &back}),
        0);
    EXPECT_EQ(back.NotCopied, 5);  // x, notes.txt, secret, y, up
    EXPECT_FALSE(fs::exists(src_ / "secret"));
    EXPECT_FALSE(fs::exists(src_ / "y"));
    EXPECT_EQ(ReadFile(src_ / "notes.txt"), "newer notes");
    EXPECT_EQ(Snapshot(e_.parent_path(), {src_, dst_}), before)
        << "changed outside the two folders";
}

// A Wine prefix links its drive Z: to "/"; other links lead up to the folder's parents or into
// the kernel's files. Only the source's own file and the linked folder elsewhere are copied; a
// broken guard is stopped after a bound.
TEST_F(CopyPassTest, ThreadingSourceLinksUpwardOrIntoPseudoFileSystemsAreNotFollowed) {
    WriteFile(src_ / "a.txt", "a", kBaseTime);
    WriteFile(f_ / "Elsewhere" / "o.txt", "o", kBaseTime);
    fs::create_directories(src_ / ".wine" / "dosdevices");
    fs::create_directory_symlink("/", src_ / ".wine" / "dosdevices" / "z:");
    fs::create_directory_symlink("..", src_ / "link_up");
    fs::create_directory_symlink(e_, src_ / "home");
    fs::create_directory_symlink("/proc", src_ / "proc");
    fs::create_directory_symlink("/sys/kernel", src_ / "sys");
    fs::create_directory_symlink("/dev", src_ / "dev");
    fs::create_directory_symlink(f_ / "Elsewhere", src_ / "elsewhere");
    fs::create_directories(dst_);

    std::atomic<bool> done{false};
    std::thread bound([&] {
        while (!done && progress_.FilesCopied < 100) {
            std::this_thread::yield();
        }
        progress_.Continue = false;
    });
    PassFailures failures;
    const std::int32_t copied = SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures});
    done = true;
    bound.join();
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(CountFiles(dst_), 2U);
    EXPECT_EQ(ReadFile(dst_ / "elsewhere" / "o.txt"), "o");
    EXPECT_EQ(failures.NotCopied, 0);
}

TEST_F(CopyPassTest, DestinationInsideTheSourceIsNotCopiedIntoItself) {
    WriteFile(src_ / "a.txt", "a", kBaseTime);
    WriteFile(src_ / "sub" / "b.txt", "b", kBaseTime);
    fs::create_directories(src_ / "Backup");
    EXPECT_EQ(SyncFolders("E:\\Src", "E:\\Src\\Backup", true, progress_), 2);
    EXPECT_EQ(ReadFile(src_ / "Backup" / "sub" / "b.txt"), "b");
    EXPECT_FALSE(fs::exists(src_ / "Backup" / "Backup"));
}

TEST_F(CopyPassTest, SpecialFilesAndUnwritableNamesArePassedOver) {
    WriteFile(src_ / "regular.txt", "r", kBaseTime);
    ASSERT_EQ(mkfifo((src_ / "fifo").c_str(), 0644), 0);
    WriteFile(src_ / "back\\slash", "cannot be written as a drive path", kBaseTime);
    WriteFile(src_ / ".tarnwick-123-4.tmp", "left over by a crash", kBaseTime);
    WriteFile(src_ / "star*and?.txt", "fine on Linux", kBaseTime);
    fs::create_directories(dst_);

    PassFailures failures;
    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures}), 2);
    // The FIFO must not make the pass wait for a writer; the name a drive path cannot hold is
    // told as not copied.
    EXPECT_EQ(failures.NotCopied, 1);
    EXPECT_EQ(failures.Reason, "name with a backslash");
    EXPECT_FALSE(fs::exists(dst_ / "fifo"));
    EXPECT_FALSE(fs::exists(dst_ / "back\\slash"));
    EXPECT_FALSE(fs::exists(dst_ / ".tarnwick-123-4.tmp"));
    EXPECT_EQ(ReadFile(dst_ / "star*and?.txt"), "fine on Linux");
}

// A copy that ended between moving a user's file aside and naming itself (a crash, a pulled
// stick): the next pass gives the file its name back, or a name beside a newer file that has
// taken it, and never removes it as a leftover nor copies it as a file of its own.
TEST_F(CopyPassTest, AFileMovedAsideGetsItsNameBackInTheNextPass) {
    const struct {
        const char* name;
        bool nameTaken;
        const char* kept;  // where the user's file ends up
    } cases[] = {
        {"doc.txt", false, "doc.txt"},
        {"doc.txt", true, "doc (kept).txt"},
        {"Makefile", true, "Makefile (kept)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.nameTaken ? ", taken" : ""));
        fs::remove_all(dst_);
        fs::remove_all(src_);
        fs::create_directories(src_);
        WriteFile(src_ / ".tarnwick-kept-99-7-other", "moved aside in the source", kBaseTime);
        WriteFile(dst_ / (std::string(".tarnwick-kept-4242-17-") + c.name), "user's", kBaseTime);
        if (c.nameTaken) {
            WriteFile(dst_ / c.name, "newer", kBaseTime + kOneSecond);
        }
        PassFailures failures;
        EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures}), 0);
        EXPECT_EQ(ReadFile(dst_ / c.kept), "user's");
        EXPECT_EQ(failures.NamesGivenBack, c.nameTaken ? 0 : 1);
        EXPECT_EQ(failures.KeptBeside, c.nameTaken ? 1 : 0);
        EXPECT_EQ(CountFiles(dst_), c.nameTaken ? 2U : 1U);
        EXPECT_FALSE(HasTemporaryFiles(dst_));
    }
}

// Destination files left as the user has them are no failures: one saved while its copy was on
// its way, one the user made read-only. Only a copy that the system refused counts.
TEST_F(CopyPassTest, FilesLeftAsTheUserHasThemAreNoFailures) {
    const struct {
        const char* what;
        std::function<void(const fs::path&)> prepare;  // before the pass
        bool saveOnTheWay;
        std::int32_t leftAsSaved;
        std::int32_t readOnly;
    } cases[] = {
        {"saved on the way", {}, true, 1, 0},
        {"read-only", [](const fs::path& target) { fs::permissions(target, fs::perms(0444)); },
         false, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dst_);
        WriteFile(src_ / "doc.txt", "newer source", kBaseTime + 100 * kOneSecond);
        WriteFile(dst_ / "doc.txt", "backup", kBaseTime);
        if (c.prepare) {
            c.prepare(dst_ / "doc.txt");
        }
        platform::SetCopyStepHookForTests([&](platform::CopyStep at, const std::string& name) {
            if (c.saveOnTheWay && at == platform::CopyStep::kLooked && name == "doc.txt") {
                WriteFile(dst_ / "doc.txt", "USER EDIT", kBaseTime + kOneSecond);
            }
        });
        PassFailures failures;
        EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures}), 0);
        platform::SetCopyStepHookForTests(nullptr);
        EXPECT_EQ(failures.NotCopied, 0) << failures.Reason;
        EXPECT_FALSE(failures.DestinationFailed);
        EXPECT_EQ(failures.LeftAsSaved, c.leftAsSaved);
        EXPECT_EQ(failures.ReadOnly, c.readOnly);
        fs::permissions(dst_ / "doc.txt", fs::perms(0644));
    }
}

TEST_F(CopyPassTest, PathsBeyondTheLimitArePassedOverNotCutShort) {
    // Source and destination paths have the same length here: "E:\Src" and "F:\Dst".
    std::string drivePath = "E:\\Src";
    fs::path folder = src_;
    const std::string name(199, 'n');
    while (drivePath.size() + 200 <= kMaxPathLength - 10) {
        drivePath += "\\" + name;
        folder /= name;
    }
    const std::size_t room = kMaxPathLength - drivePath.size() - 1;
    WriteFile(folder / std::string(room, 'f'), "fits", kBaseTime);
    WriteFile(folder / std::string(room + 1, 'g'), "too long", kBaseTime);
    fs::create_directories(folder / std::string(room - 3, 'd'));  // its pattern would not fit
    WriteFile(folder / std::string(room - 3, 'd') / "x", "x", kBaseTime);
    fs::create_directories(dst_);

    PassFailures failures;
    EXPECT_EQ(SyncFolders("E:\\Src", "F:\\Dst", true, progress_, {{}, &failures}), 1);
    EXPECT_EQ(failures.NotCopied, 2);
    EXPECT_EQ(failures.Reason, "path longer than 2,047 characters");
    const fs::path copied = dst_ / folder.lexically_relative(src_);
    EXPECT_EQ(ReadFile(copied / std::string(room, 'f')), "fits");
    EXPECT_FALSE(fs::exists(copied / std::string(room + 1, 'g')));
    EXPECT_FALSE(fs::exists(copied / std::string(room + 1, 'g').substr(0, room)));
    EXPECT_FALSE(fs::exists(copied / std::string(room - 3, 'd')));
}

TEST_F(CopyPassTest, ProgressShowsTheCurrentPaths) {
    WriteFile(src_ / "a" / "f.txt", "f", kBaseTime);
    fs::create_directories(dst_);
    EXPECT_EQ(Sync(), 1);
    // After a subfolder the display points back at the entry of its parent.
    EXPECT_EQ(progress_.SourcePath.Get(), "E:\\Src\\a");
    EXPECT_EQ(progress_.DestinationPath.Get(), "F:\\Dst\\a");

    fs::remove_all(src_ / "a");
    EXPECT_EQ(Sync(), 0);
    // An empty folder shows its listing pattern and an empty destination.
    EXPECT_EQ(progress_.SourcePath.Get(), "E:\\Src\\*.*");
    EXPECT_EQ(progress_.DestinationPath.Get(), "");

    EXPECT_EQ(SyncFolders("E:\\", "F:\\Dst", false, progress_), 0);
    EXPECT_EQ(progress_.SourcePath.Get(), "E:\\Src");  // a drive root keeps a single backslash
    progress_.SourcePath.Set(std::nullopt);
    EXPECT_EQ(progress_.SourcePath.Get(), std::nullopt);
}

TEST_F(CopyPassTest, ClearedContinueStopsBeforeTheFirstEntry) {
    WriteFile(src_ / "a.txt", "a", kBaseTime);
    WriteFile(src_ / "sub" / "b.txt", "b", kBaseTime);
    fs::create_directories(dst_);
    progress_.Continue = false;
    EXPECT_EQ(CopyFolderPass("E:\\Src", "F:\\Dst\\New", true, &progress_), 0);
    EXPECT_TRUE(fs::is_empty(f_ / "Dst" / "New"));  // created before any entry is looked at
}

// The user-interface thread reads the record while the pass runs, and cancels it half-way.
// Links in the destination would lead several source folders into one destination folder, and
// two folders into each other: nothing is written through them, on one thread as on eight.
TEST_F(CopyPassTest, ThreadingLinksInTheDestinationLeadNowhere) {
    constexpr int kFiles = 30;
    const std::pair<const char*, int> folders[] = {{"a", 0}, {"b", 10}, {"c", 5}, {"d", 3}};
    for (const auto& [folder, seconds] : folders) {
        for (int file = 0; file < kFiles; ++file) {
            WriteFile(src_ / folder / ("n" + std::to_string(file)), folder,
                      kBaseTime + seconds * kOneSecond);
        }
    }
    WriteFile(src_ / "p" / "x" / "from-p", "p", kBaseTime);
    WriteFile(src_ / "q" / "y" / "from-q", "q", kBaseTime);
    const auto makeDestination = [&](const fs::path& root) {
        fs::create_directories(root / "a");
        for (const char* alias : {"b", "c", "d"}) {
            fs::create_directory_symlink("a", root / alias);
        }
        fs::create_directories(root / "p");
        fs::create_directories(root / "q");
        fs::create_directory_symlink("../q", root / "p" / "x");
        fs::create_directory_symlink("../p", root / "q" / "y");
    };
    const auto tree = [](const fs::path& root) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && !entry.is_symlink()) {
                files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
            }
        }
        return files;
    };
    std::map<unsigned, std::pair<std::int32_t, std::map<std::string, std::string>>> outcomes;
    for (const unsigned workers : {1U, 8U}) {
        SCOPED_TRACE(std::to_string(workers) + " threads");
        const fs::path root = f_ / ("Dst" + std::to_string(workers));
        makeDestination(root);
        SetCopyPassWorkers(workers);
        const std::int32_t copied =
            SyncFolders("E:\\Src", "F:\\Dst" + std::to_string(workers), true, progress_);
        SetCopyPassWorkers(0);
        outcomes[workers] = {copied, tree(root)};
        EXPECT_FALSE(HasTemporaryFiles(root));
    }
    EXPECT_EQ(outcomes[1].first, outcomes[8].first);
    EXPECT_EQ(outcomes[1].second, outcomes[8].second);
    const std::map<std::string, std::string>& files = outcomes[8].second;
    EXPECT_EQ(outcomes[8].first, kFiles);
    EXPECT_EQ(files.size(), std::size_t{kFiles}) << "only a's own files, in a";
    EXPECT_EQ(files.at("a/n0"), "a");
}

TEST_F(CopyPassTest, ThreadingProgressIsReadAndCancelledFromAnotherThread) {
    constexpr int kFolders = 20;
    constexpr int kFilesPerFolder = 50;
    for (int folder = 0; folder < kFolders; ++folder) {
        for (int file = 0; file < kFilesPerFolder; ++file) {
            WriteFile(src_ / ("d" + std::to_string(folder)) / ("f" + std::to_string(file)), "x",
                      kBaseTime);
        }
    }
    fs::create_directories(dst_);

    std::atomic<bool> done{false};
    std::size_t readings = 0;
    std::thread reader([&] {
        while (!done) {
            const auto source = progress_.SourcePath.Get();
            const auto destination = progress_.DestinationPath.Get();
            if (source) {
                EXPECT_TRUE(source->starts_with("E:\\Src")) << *source;
            }
            if (destination && !destination->empty()) {
                EXPECT_TRUE(destination->starts_with("F:\\Dst")) << *destination;
            }
            ++readings;
            if (progress_.FilesCopied >= 100) {
                progress_.Continue = false;
            }
        }
    });
    const std::int32_t copied = Sync();
    done = true;
    reader.join();

    EXPECT_GT(readings, 0U);
    EXPECT_GE(copied, 100);
    EXPECT_LT(copied, kFolders * kFilesPerFolder) << "the pass should have stopped early";
    EXPECT_EQ(copied, progress_.FilesCopied);
    EXPECT_EQ(static_cast<std::size_t>(copied), CountFiles(dst_));
    EXPECT_FALSE(HasTemporaryFiles(dst_));

    // A second run finishes the job.
    progress_.Continue = true;
    EXPECT_EQ(Sync(), kFolders * kFilesPerFolder - copied);
}

// A copy replaces only the file it was decided on: the user saves into the target, or puts
// another file in its place, while the copy waits for its name (before the target is looked at
// for the last time, or between that look and the exchange of the names). The user's file stays
// and the copy does not count, on one thread and on eight.
TEST_F(CopyPassTest, ThreadingATargetChangedWhileItsCopyWaitsIsLeftAlone) {
    const std::function<void(const fs::path&)> changes[] = {
        [](const fs::path& target) { WriteFile(target, "USER EDIT", kBaseTime + kOneSecond); },
        [](const fs::path& target) {
            WriteFile(target.string() + ".new", "USER EDIT", kBaseTime);
            fs::rename(target.string() + ".new", target);
        },
    };
    for (const unsigned workers : {1U, 8U}) {
        for (const int stage : {0, 1}) {
            for (std::size_t change = 0; change < std::size(changes); ++change) {
                SCOPED_TRACE(std::to_string(workers) + " threads, stage " + std::to_string(stage) +
                             ", change " + std::to_string(change));
                WriteFile(src_ / "doc.txt", "older source", kBaseTime + 100 * kOneSecond);
                WriteFile(dst_ / "doc.txt", "backup", kBaseTime);
                SetCopyPassWorkers(workers);
                const platform::CopyStep step =
                    stage == 0 ? platform::CopyStep::kLooked : platform::CopyStep::kNamed;
                platform::SetCopyStepHookForTests([&](platform::CopyStep at, const std::string&) {
                    if (at == step) {
                        changes[change](dst_ / "doc.txt");
                    }
                });
                const std::int32_t copied = Sync();
                platform::SetCopyStepHookForTests(nullptr);
                SetCopyPassWorkers(0);
                EXPECT_EQ(copied, 0);
                EXPECT_EQ(ReadFile(dst_ / "doc.txt"), "USER EDIT");
                EXPECT_FALSE(HasTemporaryFiles(dst_));
            }
        }
    }
}

// Descriptors run short: 600 folders of one file each under a limit of 256 open files are all
// copied, on one thread and on eight.
TEST_F(CopyPassTest, ThreadingALowLimitOfOpenFilesSkipsNothing) {
    constexpr int kFolders = 600;
    for (int folder = 0; folder < kFolders; ++folder) {
        WriteFile(src_ / ("d" + std::to_string(folder)) / "f", std::to_string(folder), kBaseTime);
    }
    for (const unsigned workers : {1U, 8U}) {
        SCOPED_TRACE(workers);
        fs::remove_all(dst_);
        fs::create_directories(dst_);
        const int result = RunInChild([workers] {
            const rlimit limit{256, 256};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                return 200;
            }
            SetCopyPassWorkers(workers);
            return CopyFolderPass("E:\\Src", "F:\\Dst", true, nullptr) == kFolders ? 0 : 1;
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(CountFiles(dst_), std::size_t{kFolders});
    }
}

// A copy gets the source's permission bits less the umask, and its owner may always write it.
TEST_F(CopyPassTest, CopiesFollowTheUmaskAndStayWritableByTheirOwner) {
    const struct {
        fs::perms source;
        ::mode_t umask;
        fs::perms copy;
    } cases[] = {
        {fs::perms::all, 022, fs::perms(0755)},
        {fs::perms(0644), 077, fs::perms(0600)},
        {fs::perms(0444), 022, fs::perms(0644)},
        {fs::perms(0400), 0277, fs::perms(0600)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(unsigned(c.source)) + " " + std::to_string(c.umask));
        fs::remove_all(dst_);
        fs::create_directories(dst_);
        WriteFile(src_ / "file", "bits", kBaseTime);
        fs::permissions(src_ / "file", c.source);
        EXPECT_EQ(RunInChild([&c] {
                      ::umask(c.umask);
                      return CopyFolderPass("E:\\Src", "F:\\Dst", false, nullptr);
                  }),
                  1);
        EXPECT_EQ(fs::status(dst_ / "file").permissions(), c.copy);
        fs::permissions(src_ / "file", fs::perms(0600));
    }
}

}  // namespace
}  // namespace tarnwick::testing
