// Entries a copy pass must never hang on, never copy as files and never follow in circles, and
// names that are copied byte for byte or passed over whole.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "engine/queries.h"
#include "reliability_fixture.h"
#include "support/programs.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

// A thread blocked in opening a FIFO for writing: it gets through only when someone opens the
// FIFO for reading, which is how the test sees whether the pass opened it.
class BlockedFifoWriter {
public:
    explicit BlockedFifoWriter(fs::path fifo) : fifo_(std::move(fifo)) {
        thread_ = std::thread([this] {
            tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
            const int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
            opened_ = true;
            if (fd >= 0) {
                ::close(fd);
            }
        });
        // Waits until the kernel shows the thread inside that open.
        const std::string openat = std::to_string(SYS_openat) + " ";
        while (!opened_) {
            if (const pid_t tid = tid_.load(); tid != 0) {
                std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
                std::string line;
                std::getline(syscall, line);
                if (line.starts_with(openat)) {
                    break;
                }
            }
            std::this_thread::yield();
        }
    }
    ~BlockedFifoWriter() {
        if (!opened_) {
            const int fd = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
            }
        }
        thread_.join();
    }
    bool Opened() const { return opened_; }

private:
    fs::path fifo_;
    std::atomic<pid_t> tid_{0};
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

bool MakeSocket(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (fd < 0 || text.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

class SpecialEntries : public ReliabilityTest {};

TEST_F(SpecialEntries, AreNeverCopiedAsFilesNorOpenedNorFollowedInCircles) {
    const Tree regular = {
        {"regular.txt", File("r", kBaseTime)},
        {"a", Folder()},
        {"a/b", Folder()},
        {"a/b/f.txt", File("f", kBaseTime)},
    };
    BuildTree(source_, regular);
    fs::create_directory_symlink("../..", source_ / "a" / "b" / "up");  // the top folder again
    fs::create_directory_symlink(".", source_ / "a" / "self");
    fs::create_symlink("loop2", source_ / "loop1");
    fs::create_symlink("loop1", source_ / "loop2");
    fs::create_symlink("nowhere", source_ / "dangling");
    ASSERT_EQ(::mkfifo((source_ / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((temp_ / "elsewhere-fifo").c_str(), 0644), 0);
    fs::create_symlink(temp_ / "elsewhere-fifo", source_ / "fifo-link");
    ASSERT_TRUE(MakeSocket(source_ / "socket"));
    fs::create_symlink("socket", source_ / "socket-link");
    fs::create_symlink("/dev/null", source_ / "device-link");
    if (RunningAsRoot()) {
        ASSERT_EQ(::mknod((source_ / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    }

    const BlockedFifoWriter writer(temp_ / "elsewhere-fifo");
    EXPECT_EQ(Sync(), 2);
    EXPECT_FALSE(writer.Opened()) << "the pass opened a FIFO behind a link";
    EXPECT_TRUE(SameTree(ReadTree(destination_), regular));
    EXPECT_EQ(Sync(), 0);
}

// Names are bytes: whatever the file system holds is copied under the same bytes, except a
// name with a backslash, which a drive path cannot write.
TEST_F(SpecialEntries, NamesAreCopiedByteForByteOrPassedOverWhole) {
    const std::string longest(255, 'L');
    const Tree copied = {
        {"caf\xe9.txt", File("latin-1", kBaseTime)},
        {"\xff\xfe\x80", File("not UTF-8 at all", kBaseTime)},
        {"line\nbreak", File("newline", kBaseTime)},
        {" lead and trail ", File("blanks", kBaseTime)},
        {".tarnwick-notes.txt", File("a user's file with the copy prefix", kBaseTime)},
        {longest, File("255 bytes", kBaseTime)},
        {"d" + longest.substr(1), Folder()},
        {"d" + longest.substr(1) + "/" + longest, File("deeper", kBaseTime)},
    };
    BuildTree(source_, copied);
    WriteFile(source_ / "back\\slash", "passed over", kBaseTime);
    WriteFile(source_ / "d\\e" / "inside", "passed over with its folder", kBaseTime);

    EXPECT_EQ(Sync(), 7);
    EXPECT_TRUE(SameTree(ReadTree(destination_), copied));
    if (const auto differences = RsyncDifferences(source_, destination_)) {
        EXPECT_EQ(*differences, (std::set<std::string>{"back\\slash", "d\\e/", "d\\e/inside"}));
    } else {
        std::cout << kNoRsync << "\n";
    }
}

// The limit holds for both sides: where the destination folder lies deeper than the source, a
// name that fits the source but not the destination is passed over, never cut short into the
// name of another file.
TEST_F(SpecialEntries, PathLimitHoldsOnTheLongerSide) {
    const std::string destination = "F:\\Dst\\A-deeper-folder";
    const std::size_t longer = destination.size() - std::string("E:\\Src").size();
    const fs::path deeper = destination_ / "A-deeper-folder";
    std::string folder = "E:\\Src";
    std::string relative;
    while (folder.size() + 201 + longer < kMaxPathLength - 40) {
        folder += "\\" + std::string(200, 'n');
        relative += (relative.empty() ? "" : "/") + std::string(200, 'n');
    }
    const std::size_t room = kMaxPathLength - folder.size() - 1 - longer;  // at the destination
    const std::string fits(room, 'f');
    const std::string over(room + 1, 'f');  // fits the source, cut short it would be `fits`
    const std::string wellOver(room + longer, 'g');
    BuildTree(source_, {{relative + "/" + over, File("one too long", kBaseTime + kOneSecond)},
                        {relative + "/" + wellOver, File("source only", kBaseTime)}});
    BuildTree(deeper, {{relative + "/" + fits, File("stays", kBaseTime)}});
    const Tree before = ReadTree(deeper);

    ASSERT_LE(folder.size() + 1 + wellOver.size(), kMaxPathLength);
    EXPECT_EQ(SyncFolders("E:\\Src", destination, true, progress_), 0);
    EXPECT_TRUE(SameTree(ReadTree(deeper), before));

    WriteFile(source_ / relative / fits, "fits both", kBaseTime + 100 * kOneSecond);
    EXPECT_EQ(SyncFolders("E:\\Src", destination, true, progress_), 1);
    EXPECT_EQ(ReadFile(deeper / relative / fits), "fits both");
}

}  // namespace
}  // namespace tarnwick::testing
