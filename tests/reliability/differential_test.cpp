// An independent check of the copy pass: a reference model of the one-way pass and of the Merge
// run, written as plainly as the rules read and without any of the engine's code, predicts the
// outcome of a thousand random trees, which are then built on disk, synchronised and read back.

#include <iostream>
#include <map>
#include <random>
#include <set>

#include "reliability_fixture.h"
#include "support/programs.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileTime;

// --- The reference model -------------------------------------------------------------------

struct ModelFile {
    std::string content;
    FileTime time = 0;
};

// One side of a pair: files and folders by relative path ("a/b/c.txt").
struct Side {
    std::map<std::string, ModelFile> files;
    std::set<std::string> folders;
};

constexpr FileTime kTwoSeconds = 2 * kOneSecond;

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string ParentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The decision for one source file, as a table: nothing of that name there -> copy; a file that
// is older by more than 2 seconds -> copy over it; anything else (a folder, a file at most 2
// seconds older, a newer file) -> leave it.
bool ShouldCopy(const Side& to, const std::string& path, const ModelFile& file) {
    if (to.folders.contains(path)) {
        return false;
    }
    const auto existing = to.files.find(path);
    if (existing == to.files.end()) {
        return true;
    }
    return file.time > existing->second.time + kTwoSeconds;
}

// One pass of one folder: its files by the table; its subfolders, with the flag, made where no
// file is in the way and then passed in turn. Without the flag a subfolder is left out.
int ModelFolderPass(const Side& from, Side& to, const std::string& folder, bool subfolders) {
    int copied = 0;
    for (const auto& [path, file] : from.files) {
        if (ParentOf(path) == folder && ShouldCopy(to, path, file)) {
            to.files[path] = file;
            ++copied;
        }
    }
    if (!subfolders) {
        return copied;
    }
    for (const std::string& path : from.folders) {
        if (ParentOf(path) == folder && !to.files.contains(path)) {
            to.folders.insert(path);
            copied += ModelFolderPass(from, to, path, subfolders);
        }
    }
    return copied;
}

int ModelPass(const Side& from, Side& to, bool subfolders) {
    return ModelFolderPass(from, to, "", subfolders);
}

// A Merge destination: the pass forward, then the pass back.
int ModelMerge(Side& source, Side& destination, bool subfolders) {
    const int forward = ModelPass(source, destination, subfolders);
    return forward + ModelPass(destination, source, subfolders);
}

Tree TreeOf(const Side& side) {
    Tree tree;
    for (const std::string& folder : side.folders) {
        tree[folder] = Folder();
    }
    for (const auto& [path, file] : side.files) {
        tree[path] = File(file.content, file.time);
    }
    return tree;
}

// --- Random pairs of trees -----------------------------------------------------------------

struct Case {
    Side source;
    Side destination;
    bool subfolders = true;
    bool merge = false;
};

// Offsets of a destination file's time from its source file's: the two-second edge from both
// sides, equal times, and clearly older and newer files.
constexpr std::int64_t kOffsets[] = {
    -static_cast<std::int64_t>(kTwoSeconds) - 1,  // source newer by 2 s + 100 ns: copied
    -static_cast<std::int64_t>(kTwoSeconds),      // source newer by exactly 2 s: not copied
    0,
    static_cast<std::int64_t>(kTwoSeconds),
    static_cast<std::int64_t>(kTwoSeconds) + 1,  // destination newer by 2 s + 100 ns
    -100 * static_cast<std::int64_t>(kOneSecond),
    100 * static_cast<std::int64_t>(kOneSecond),
};

class CaseMaker {
public:
    explicit CaseMaker(unsigned seed) : random_(seed) {}

    Case Make() {
        Case pair;
        pair.subfolders = Chance(0.7);
        pair.merge = Chance(0.5);
        base_ = kBaseTime + Below(1'000'000) * kOneSecond / 10 + Below(1000);
        Fill(pair.source, "", 0, {"a", "b", "c.txt", "Dd", "e f"});
        Mirror(pair.source, pair.destination);
        Fill(pair.destination, "", 0, {"a", "only", "x.bin"});
        return pair;
    }

private:
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    std::uint64_t Below(std::uint64_t n) { return random_() % n; }

    ModelFile NewFile() {
        return {Pattern(Below(3000), static_cast<unsigned>(random_())),
                base_ + Below(100'000) * 1000 + Below(1000)};
    }

    // Anything can be put at a path whose folders are folders on this side, and where nothing is.
    static bool Free(const Side& side, const std::string& path) {
        for (std::string parent = ParentOf(path); !parent.empty(); parent = ParentOf(parent)) {
            if (!side.folders.contains(parent)) {
                return false;
            }
        }
        return !side.files.contains(path) && !side.folders.contains(path);
    }

    void Fill(Side& side, const std::string& folder, int depth,
              const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            const std::string path = Join(folder, name);
            const double roll = std::uniform_real_distribution<double>(0, 1)(random_);
            if (!Free(side, path)) {
                continue;
            }
            if (roll < 0.35) {
                side.files[path] = NewFile();
            } else if (roll < 0.55 && depth < 3) {
                side.folders.insert(path);
                Fill(side, path, depth + 1, names);
            }
        }
    }

    // The destination as a former copy of the source: some files there with other contents and
    // times around the source's, some folders made, and now and then a file where the source
    // has a folder or a folder where it has a file.
    void Mirror(const Side& source, Side& destination) {
        for (const std::string& path : source.folders) {  // ordered: parents first
            if (!Free(destination, path) || !Chance(0.6)) {
                continue;
            }
            if (Chance(0.06)) {
                destination.files[path] = NewFile();
            } else {
                destination.folders.insert(path);
            }
        }
        for (const auto& [path, file] : source.files) {
            if (!Free(destination, path) || !Chance(0.5)) {
                continue;
            }
            if (Chance(0.06)) {
                destination.folders.insert(path);
                continue;
            }
            const std::int64_t offset = kOffsets[Below(std::size(kOffsets))];
            ModelFile older = NewFile();
            older.time = static_cast<FileTime>(static_cast<std::int64_t>(file.time) + offset);
            destination.files[path] = older;
        }
    }

    std::mt19937_64 random_;
    FileTime base_ = kBaseTime;
};

// --- The test ------------------------------------------------------------------------------

class Differential : public ReliabilityTest {};

TEST_F(Differential, AThousandRandomTreesEndAsTheModelSays) {
    constexpr unsigned kCases = 1000;
    const bool rsync = HasProgram("rsync");
    if (!rsync) {
        std::cout << kNoRsync << "\n";
    }
    int copiedInAll = 0;
    for (unsigned seed = 1; seed <= kCases; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Case pair = CaseMaker(seed).Make();
        fs::remove_all(source_);
        fs::remove_all(destination_);
        BuildTree(source_, TreeOf(pair.source));
        BuildTree(destination_, TreeOf(pair.destination));

        Side source = pair.source;
        Side destination = pair.destination;
        const Side before = destination;
        const int expected = pair.merge ? ModelMerge(source, destination, pair.subfolders)
                                        : ModelPass(source, destination, pair.subfolders);

        // The pass as it runs, on one thread, and on many more threads than cores.
        constexpr unsigned kWorkers[] = {0, 1, 8};
        SetCopyPassWorkers(kWorkers[seed % 3]);
        progress_.FilesCopied = 0;
        std::int32_t copied = Sync(pair.subfolders);
        if (pair.merge) {
            copied += SyncFolders("F:\\Dst", "E:\\Src", pair.subfolders, progress_);
        }
        SetCopyPassWorkers(0);
        ASSERT_EQ(copied, expected)
            << (pair.merge ? "merge" : "backup") << ", subfolders " << pair.subfolders
            << ", threads " << kWorkers[seed % 3];
        ASSERT_EQ(progress_.FilesCopied, expected);
        ASSERT_TRUE(SameTree(ReadTree(destination_), TreeOf(destination)));
        ASSERT_TRUE(SameTree(ReadTree(source_), TreeOf(source)));
        copiedInAll += copied;

        if (rsync && seed % 10 == 0) {
            std::vector<std::string> copies;
            for (const auto& [path, file] : destination.files) {
                const auto old = before.files.find(path);
                if (old == before.files.end() || old->second.content != file.content) {
                    copies.push_back(path);
                }
            }
            ASSERT_TRUE(RsyncAgrees(source_, destination_, copies));
        }
    }
    std::cout << copiedInAll << " files copied over " << kCases << " pairs of trees\n";
}

}  // namespace
}  // namespace tarnwick::testing
