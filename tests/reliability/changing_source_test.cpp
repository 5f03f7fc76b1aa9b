// Sources that change while a pass copies them: files rewritten in place or appended to during
// their copy, and trees whose files and folders vanish, appear and change between and during
// passes. A copy is always a state the file really had, whole, or no copy at all.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "reliability_fixture.h"
#include "support/programs.h"

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
// stream.
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
            EXPECT_EQ(copy.size() % kChunk, 0U);
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

}  // namespace
}  // namespace tarnwick::testing
