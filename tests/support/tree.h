#pragma once
// Trees of files as plain values: build one on disk, read one back, and compare two with a
// readable list of differences. Paths are relative, '/'-separated.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/filetime.h"

namespace tarnwick::testing {

struct TreeEntry {
    enum class Kind { kFile, kFolder, kOther };
    Kind kind = Kind::kFile;
    std::string content;          // files only
    platform::FileTime time = 0;  // files only: folder times change with every entry made
    bool operator==(const TreeEntry&) const = default;
};

using Tree = std::map<std::string, TreeEntry>;

inline TreeEntry File(std::string content, platform::FileTime time) {
    return {TreeEntry::Kind::kFile, std::move(content), time};
}
inline TreeEntry Folder() {
    return {TreeEntry::Kind::kFolder, {}, 0};
}

// Every entry below `root` as it is on disk; links are not followed (a link is kOther).
Tree ReadTree(const std::filesystem::path& root);

// Adds a folder entry for every folder above an entry of the tree.
void AddParents(Tree& tree);

// Creates the folders and files of `tree` below `root` (parents first), files with their times.
void BuildTree(const std::filesystem::path& root, const Tree& tree);

// Success when the two trees hold the same entries; otherwise the differences, one a line.
::testing::AssertionResult SameTree(const Tree& actual, const Tree& expected);

// How a pass changed a destination tree that held `before`, given the source tree it copied
// from: every entry of `after` must be as it was before or as it is in the source (a whole copy,
// with its time); nothing of `before` may be missing. `copied` names the files that became the
// source's version.
struct CopyOutcome {
    std::vector<std::string> copied;
    std::string problems;  // one a line; empty when every entry is old or new
};
CopyOutcome CompareWithSource(const Tree& before, const Tree& source, const Tree& after);

// The independent check: rsync, comparing contents, finds no difference between the source and
// the destination for any of `names` (files the pass is known to have copied). Passes with a
// note where rsync is not installed.
::testing::AssertionResult RsyncAgrees(const std::filesystem::path& source,
                                       const std::filesystem::path& destination,
                                       const std::vector<std::string>& names);

// Names of temporary copy files left anywhere below `root`.
std::vector<std::string> TemporaryFiles(const std::filesystem::path& root);

// A file content of `size` bytes that differs for every seed (so a mixture of two versions is
// never equal to either).
std::string Pattern(std::size_t size, unsigned seed);

}  // namespace tarnwick::testing
