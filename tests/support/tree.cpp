#include "support/tree.h"

#include <sys/stat.h>

#include <iostream>
#include <sstream>

#include "platform/files/files.h"
#include "support/programs.h"
#include "support/temp_dir.h"

namespace tarnwick::testing {

namespace fs = std::filesystem;

Tree ReadTree(const fs::path& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = it->path().lexically_relative(root).generic_string();
        const fs::file_status status = it->symlink_status();
        if (fs::is_directory(status)) {
            tree[name] = Folder();
        } else if (fs::is_regular_file(status)) {
            tree[name] = File(ReadFile(it->path()), LastWrite(it->path()));
        } else {
            tree[name] = {TreeEntry::Kind::kOther, {}, 0};
        }
    }
    return tree;
}

void AddParents(Tree& tree) {
    std::vector<std::string> parents;
    for (const auto& [name, entry] : tree) {
        for (auto slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            parents.push_back(name.substr(0, slash));
        }
    }
    for (const std::string& parent : parents) {
        tree[parent] = Folder();
    }
}

void BuildTree(const fs::path& root, const Tree& tree) {
    fs::create_directories(root);
    // A map is ordered so that a folder comes before everything inside it.
    for (const auto& [name, entry] : tree) {
        const fs::path path = root / name;
        if (entry.kind == TreeEntry::Kind::kFolder) {
            fs::create_directories(path);
        } else if (entry.kind == TreeEntry::Kind::kFile) {
            WriteFile(path, entry.content, entry.time);
        }
    }
}

namespace {

std::string Describe(const TreeEntry& entry) {
    std::ostringstream out;
    switch (entry.kind) {
        case TreeEntry::Kind::kFolder:
            return "folder";
        case TreeEntry::Kind::kOther:
            return "special file or link";
        case TreeEntry::Kind::kFile:
            break;
    }
    out << "file of " << entry.content.size() << " bytes, time " << entry.time;
    return out.str();
}

}  // namespace

::testing::AssertionResult SameTree(const Tree& actual, const Tree& expected) {
    std::ostringstream differences;
    for (const auto& [name, want] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            differences << "missing: " << name << " (" << Describe(want) << ")\n";
        } else if (found->second.kind != want.kind || found->second.time != want.time) {
            differences << "differs: " << name << ": " << Describe(found->second) << ", expected "
                        << Describe(want) << "\n";
        } else if (found->second.content != want.content) {
            differences << "other contents: " << name << " (" << found->second.content.size()
                        << " bytes, expected " << want.content.size() << ")\n";
        }
    }
    for (const auto& [name, entry] : actual) {
        if (!expected.contains(name)) {
            differences << "unexpected: " << name << " (" << Describe(entry) << ")\n";
        }
    }
    const std::string text = differences.str();
    if (text.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << text;
}

CopyOutcome CompareWithSource(const Tree& before, const Tree& source, const Tree& after) {
    CopyOutcome outcome;
    std::ostringstream problems;
    for (const auto& [name, entry] : after) {
        const auto old = before.find(name);
        if (old != before.end() && old->second == entry) {
            continue;
        }
        const auto wanted = source.find(name);
        if (wanted == source.end() || wanted->second != entry) {
            problems << "neither the old nor the source's version: " << name << " ("
                     << Describe(entry) << ")\n";
        } else if (entry.kind == TreeEntry::Kind::kFile) {
            outcome.copied.push_back(name);
        }
    }
    for (const auto& [name, entry] : before) {
        if (!after.contains(name)) {
            problems << "lost: " << name << " (" << Describe(entry) << ")\n";
        }
    }
    outcome.problems = problems.str();
    return outcome;
}

::testing::AssertionResult RsyncAgrees(const fs::path& source, const fs::path& destination,
                                       const std::vector<std::string>& names) {
    if (!HasProgram("rsync")) {
        std::cout << kNoRsync << "\n";
        return ::testing::AssertionSuccess();
    }
    const auto differences = RsyncDifferences(source, destination);
    if (!differences) {
        return ::testing::AssertionFailure() << "rsync cannot compare the trees";
    }
    std::ostringstream disagreements;
    for (const std::string& name : names) {
        if (differences->contains(name)) {
            disagreements << "rsync finds " << name << " different\n";
        }
    }
    const std::string text = disagreements.str();
    if (text.empty()) {
        return ::testing::AssertionSuccess() << names.size() << " copies checked by rsync";
    }
    return ::testing::AssertionFailure() << text;
}

std::vector<std::string> TemporaryFiles(const fs::path& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (platform::IsTemporaryCopyName(name)) {
            found.push_back(it->path().lexically_relative(root).generic_string());
        }
    }
    return found;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string content(size, '\0');
    std::uint32_t state = seed * 2654435761U + 1;
    for (char& c : content) {
        state = state * 1103515245U + 12345U;
        c = static_cast<char>(state >> 24);
    }
    return content;
}

}  // namespace tarnwick::testing
