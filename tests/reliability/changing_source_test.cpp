// Sources that change while a pass copies them: files rewritten in place or appended to during
// their copy, and trees whose files and folders vanish, appear and change between and during
// passes. A copy is always a state the file really had, whole, or no copy at all.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "reliability_fixture.h"
#include "support/programs.h"
#include "support/unprivileged.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;

// A folder on the RAM file system, where a copy from the temporary folder has to go through a
// buffer instead of the kernel's in-file-system copy.
class RamFolder {
public:
    RamFolder() {
        std::string pattern = "/dev/shm/tarnwick-test-XXXXXX";
        if (fs::is_directory("/dev/shm") && ::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~RamFolder() {
        std::error_code ec;
        if (!path_.empty()) {
            fs::remove_all(path_, ec);
        }
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Which volume the destination lies on: the source's, or another one.
enum class Destination { kSameVolume, kOtherVolume };

class ChangingSource : public ReliabilityTest, public ::testing::WithParamInterface<Destination> {
protected:
    void SetUp() override {
        if (GetParam() == Destination::kOtherVolume) {
            if (ram_.path().empty()) {
                GTEST_SKIP() << "no /dev/shm to put the destination on another volume";
            }
            map_->Set('F', {ram_.path().string(), platform::kDriveRamdisk, 0x5EED0003, "RAM"});
            fs::create_directories(ram_.path() / "Dst");
            target_ = ram_.path() / "Dst";
        } else {
            target_ = destination_;
        }
    }

    RamFolder ram_;
    fs::path target_;
};

// The file a writer rewrites in place: 8-byte words, each holding its own position and the
// version that wrote it. Any state the file goes through reads as versions v+1 up to the
// writer's position and v after it; a copy stitched from reads at different moments shows a
// rise, or three versions.
constexpr std::size_t kWords = 1 << 20;  // 8 MiB
constexpr std::size_t kChunkWords = 8192;

std::uint64_t Word(std::uint64_t version, std::size_t position) {
    return version << 32 | position;
}

std::string Version(std::uint64_t version, std::size_t from, std::size_t words) {
    std::string bytes(words * 8, '\0');
    for (std::size_t i = 0; i < words; ++i) {
        const std::uint64_t word = Word(version, from + i);
        std::memcpy(bytes.data() + i * 8, &word, 8);
    }
    return bytes;
}

// Empty when `copy` is a state the rewritten file had; otherwise what is wrong with it.
std::string StateProblem(const std::string& copy) {
    if (copy.size() != kWords * 8) {
        return "a copy of " + std::to_string(copy.size()) + " bytes";
    }
    std::uint64_t previous = UINT64_MAX;
    std::uint64_t highest = 0;
    for (std::size_t i = 0; i < kWords; ++i) {
        std::uint64_t word = 0;
        std::memcpy(&word, copy.data() + i * 8, 8);
        const std::uint64_t version = word >> 32;
        if ((word & 0xFFFFFFFF) != i) {
            return "garbage at word " + std::to_string(i);
        }
        if (i == 0) {
            highest = version;
        } else if (version > previous || highest - version > 1) {
            return "versions " + std::to_string(previous) + " and " + std::to_string(version) +
                   " meet at word " + std::to_string(i) + ": read at different moments";
        }
        previous = version;
    }
    return {};
}

TEST_P(ChangingSource, ThreadingAFileRewrittenInPlaceIsCopiedWholeOrNotAtAll) {
    const fs::path file = source_ / "rewritten.bin";
    WriteFile(file, Version(0, 0, kWords));
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
        for (std::uint64_t version = 1; writing; ++version) {
            for (std::size_t from = 0; from < kWords && writing; from += kChunkWords) {
                const std::string chunk = Version(version, from, kChunkWords);
                if (::pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(from * 8)) < 0) {
                    ADD_FAILURE() << "cannot write: " << std::strerror(errno);
                    writing = false;
                }
            }
        }
        ::close(fd);
    });
    int copies = 0;
    for (int pass = 0; pass < 20; ++pass) {
        fs::remove(target_ / "rewritten.bin");
        const std::int32_t copied = Sync();
        EXPECT_TRUE(TemporaryFiles(target_).empty());
        if (fs::exists(target_ / "rewritten.bin")) {
            EXPECT_EQ(copied, 1);
            EXPECT_EQ(StateProblem(ReadFile(target_ / "rewritten.bin")), "");
            ++copies;
        } else {
            EXPECT_EQ(copied, 0);
        }
    }
    writing = false;
    writer.join();
    fs::remove(target_ / "rewritten.bin");
    EXPECT_EQ(Sync(), 1);  // left alone, it is copied
    EXPECT_EQ(ReadFile(target_ / "rewritten.bin"), ReadFile(file));
    std::cout << copies << " of 20 copies made while the file was being rewritten\n";
}

// The appended file grows by a fixed stream of bytes, so every state it has is a prefix of the
// stream (not always a whole number of writes: a write grows the file page by page, and a reader
// may see part of one).
TEST_P(ChangingSource, ThreadingAFileAppendedToIsCopiedAsAStateItHadOrNotAtAll) {
    constexpr std::size_t kChunk = 64 * 1024;
    constexpr std::size_t kMaximum = 64 << 20;
    const std::string stream = Pattern(kMaximum, 7);
    const fs::path file = source_ / "growing.log";
    WriteFile(file, stream.substr(0, kChunk));
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        for (std::size_t size = kChunk; writing; size += kChunk) {
            if (size + kChunk > kMaximum) {
                ::ftruncate(fd, 0);  // starts again: a state that no copy may mix with the last
                size = 0;
            }
            if (::write(fd, stream.data() + size, kChunk) < 0) {
                writing = false;
            }
        }
        ::close(fd);
    });
    for (int pass = 0; pass < 20; ++pass) {
        fs::remove(target_ / "growing.log");
        Sync();
        EXPECT_TRUE(TemporaryFiles(target_).empty());
        if (fs::exists(target_ / "growing.log")) {
            const std::string copy = ReadFile(target_ / "growing.log");
            EXPECT_TRUE(copy == stream.substr(0, copy.size())) << "not a state the file had";
        }
    }
    writing = false;
    writer.join();
    fs::remove(target_ / "growing.log");
    EXPECT_EQ(Sync(), 1);
    EXPECT_EQ(ReadFile(target_ / "growing.log"), ReadFile(file));
}

INSTANTIATE_TEST_SUITE_P(Volumes, ChangingSource,
                         ::testing::Values(Destination::kSameVolume, Destination::kOtherVolume),
                         [](const auto& info) {
                             return info.param == Destination::kSameVolume ? "SameVolume"
                                                                           : "OtherVolume";
                         });

class ChangingTree : public ReliabilityTest {};

// A second thread changes the source tree while passes run: new versions of files replace the
// old ones, files and folders vanish, appear and are renamed. Every version is unique and begins
// with its file's name, so a copy can be told from anything stitched together or misplaced.
TEST_F(ChangingTree, ThreadingEntriesVanishAppearAndChangeDuringPasses) {
    std::mutex mutex;
    std::set<std::string> versions;
    std::atomic<bool> changing{true};
    std::atomic<int> changes{0};
    std::thread changer([&] {
        std::mt19937 random(20240611);
        const fs::path staging = temp_ / "staging";
        const fs::path trash = temp_ / "trash";
        fs::create_directories(staging);
        fs::create_directories(trash);
        const std::vector<std::string> folders = {"", "a/", "b/", "a/c/"};
        std::uniform_int_distribution<int> pick(0, 99);
        for (int version = 1; changing; ++version) {
            std::error_code ignored;
            const std::string folder = folders[random() % folders.size()];
            const std::string file = "x" + std::to_string(random() % 6);
            const int action = pick(random);
            if (action < 60) {
                const std::string content =
                    file + "#" + std::to_string(version) + "#" + Pattern(random() % 20000, version);
                {
                    const std::lock_guard lock(mutex);
                    versions.insert(content);
                }
                const fs::path next = staging / file;
                WriteFile(next, content, kBaseTime + version * 10 * kOneSecond);
                fs::rename(next, source_ / (folder + file), ignored);
            } else if (action < 75) {
                fs::remove(source_ / (folder + file), ignored);
            } else if (action < 85) {
                fs::create_directory(source_ / folder, ignored);
            } else if (action < 92 && !folder.empty()) {
                const fs::path away = trash / std::to_string(version);
                fs::rename(source_ / folder, away, ignored);
                fs::remove_all(away, ignored);
            } else if (!folder.empty()) {
                const std::string other = folders[1 + random() % (folders.size() - 1)];
                fs::rename(source_ / folder, source_ / other, ignored);
            }
            ++changes;
        }
    });

    while (changes < 100) {
        std::this_thread::yield();
    }
    Tree previous;
    int copies = 0;
    int passes = 0;
    for (; passes < 20 || changes < 5000; ++passes) {
        const std::int32_t copied = Sync();
        const Tree now = ReadTree(destination_);
        int changed = 0;
        const std::lock_guard lock(mutex);
        for (const auto& [name, entry] : now) {
            const auto old = previous.find(name);
            EXPECT_NE(entry.kind, TreeEntry::Kind::kOther) << name;
            if (entry.kind != TreeEntry::Kind::kFile) {
                continue;
            }
            const std::string base = fs::path(name).filename().string();
            EXPECT_TRUE(versions.contains(entry.content) && entry.content.starts_with(base + "#"))
                << name << " is not a version of that file";
            changed += old == previous.end() || old->second != entry ? 1 : 0;
        }
        for (const auto& [name, entry] : previous) {
            EXPECT_TRUE(now.contains(name)) << name << " went missing";
        }
        EXPECT_EQ(copied, changed);
        copies += copied;
        EXPECT_EQ(TemporaryFiles(destination_), std::vector<std::string>{});
        previous = now;
    }
    changing = false;
    changer.join();
    std::cout << copies << " copies of " << versions.size() << " versions in " << passes
              << " passes\n";

    // Once the source holds still, one more run brings every file over, unless the destination
    // holds a newer version of that name (a folder renamed over one that had been copied).
    Sync();
    const Tree source = ReadTree(source_);
    const Tree destination = ReadTree(destination_);
    std::vector<std::string> same;
    for (const auto& [name, entry] : source) {
        const auto copy = destination.find(name);
        ASSERT_NE(copy, destination.end()) << name;
        if (entry.kind == TreeEntry::Kind::kFile && copy->second != entry) {
            EXPECT_GT(copy->second.time, entry.time + 2 * kOneSecond) << name;
        } else if (entry.kind == TreeEntry::Kind::kFile) {
            same.push_back(name);
        }
    }
    EXPECT_TRUE(RsyncAgrees(source_, destination_, same));
}

// A subfolder whose permissions are taken away while the pass runs (as a user: root passes every
// permission check): whatever part of it was copied is whole, the rest waits for the next run.
TEST_F(ChangingTree, ASubfolderLockedDuringAPassIsPassedOverAndCopiedLater) {
    Tree source;
    for (int folder = 0; folder < 6; ++folder) {
        for (int file = 0; file < 20; ++file) {
            source["d" + std::to_string(folder) + "/f" + std::to_string(file)] =
                File(Pattern(4096, static_cast<unsigned>(folder * 20 + file)), kBaseTime);
        }
    }
    AddParents(source);
    BuildTree(source_, source);
    OpenUpForNobody(temp_.path());
    const Tree before = ReadTree(destination_);

    const int copied = RunUnprivileged([&] {
        std::thread locker([&] {
            while (progress_.FilesCopied < 50) {
                std::this_thread::yield();
            }
            fs::permissions(source_ / "d3", fs::perms::none);
        });
        const std::int32_t result = Sync();
        progress_.FilesCopied = 50;  // the locker ends also when the pass copied less
        locker.join();
        return static_cast<int>(result);
    });
    ASSERT_GE(copied, 50);
    const CopyOutcome outcome = CompareWithSource(before, source, ReadTree(destination_));
    EXPECT_EQ(outcome.problems, "");
    EXPECT_EQ(copied, static_cast<int>(outcome.copied.size()));
    EXPECT_EQ(TemporaryFiles(destination_), std::vector<std::string>{});

    fs::permissions(source_ / "d3", fs::perms::owner_all);
    EXPECT_EQ(Sync(), 120 - copied);
    EXPECT_TRUE(SameTree(ReadTree(destination_), source));
}

}  // namespace
}  // namespace tarnwick::testing
