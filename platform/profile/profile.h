#pragma once
// INI-style profile files: the stand-in for the private-profile services the settings file was
// made for.
//
// Layout: a "[section]" line opens a section, "key=value" lines follow. Section and key names
// match without regard to ASCII case; blanks (space, tab) around names and values are ignored on
// reading. Blank lines, ";" comment lines and lines that are neither are kept as they are. LF and
// CRLF files read alike, and a rewritten file keeps the line ends it had (a new file gets LF).
//
// Duplicates: only the first section of a name is looked at, and within it only the first key of
// a name, both for reading and for overwriting, as the original services behave. Erasing a
// section removes every section of that name, so that no older duplicate comes to light.
//
// The text functions are pure; ProfileFile adds the file: each read sees the file as it is at
// that moment, each write replaces it whole and atomically.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Values are read back with at most this many characters; longer ones are cut.
inline constexpr std::size_t kMaxProfileValueLength = 2047;

// A larger file is not read (it reads as empty) and not written (writes fail), so that a stray
// huge file is neither loaded whole nor destroyed.
inline constexpr std::size_t kMaxProfileFileSize = 16 * 1024 * 1024;

// The values of a profile text: for the first section of every name, the raw value text of the
// first key of every name (names folded to lower case).
struct ProfileIndex {
    std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> sections;
};

ProfileIndex IndexProfile(std::string_view text);

// The value of a key as the original services give it back: NUL ends it, blanks around it go,
// one pair of enclosing quotes (double or single) goes, then it is cut to kMaxProfileValueLength. nullopt
// when the section or the key is missing.
std::optional<std::string> LookupProfileValue(const ProfileIndex& index, std::string_view section,
                                              std::string_view key);
std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// Whether a section name, key name or value can be stored so that it reads back as written: no
// CR, LF or NUL anywhere; no ']' in a section name; a key name that is not empty, holds no '='
// and does not begin like a comment or a section line.
bool IsStorableProfileSection(std::string_view section);
bool IsStorableProfileKey(std::string_view key);
bool IsStorableProfileValue(std::string_view value);

// The value as a line of the file holds it: inside double quotes where it would otherwise lose
// blanks at its ends or a pair of enclosing quotes on reading.
std::string EncodedProfileValue(std::string_view value);

// The text with the key set to the value: an existing key is overwritten in place, a new key is
// added after the last key line of its section, a new section is added at the end. nullopt when
// the section, key or value cannot be stored.
std::optional<std::string> ProfileWithValue(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value);

// The text without the section and its keys (every section of that name).
std::string ProfileWithoutSection(std::string_view text, std::string_view section);

// An integer value: "0x"/"0X" and hex digits, or an optional sign and decimal digits, and nothing
// else. nullopt when it is not such a number or does not fit an int.
std::optional<int> ParseProfileInteger(std::string_view value);

// --- The file -----------------------------------------------------------------------------------

// How a profile file was found.
enum class ProfileFileState {
    kMissing,   // reads as empty; the first write creates it
    kLoaded,    // the text was read
    kUnusable,  // not a readable regular file of at most kMaxProfileFileSize: reads as empty,
                // writes fail
};

struct ProfileFileText {
    ProfileFileState state = ProfileFileState::kMissing;
    std::string text;
};

// Reads the whole file. Never changes it; a FIFO or device is not opened for long and not read.
ProfileFileText LoadProfileFile(const std::string& nativePath);

// Where a program keeps the profile file beside it for the user running it. In a folder this user
// may not create and replace files in (an installed program, a read-only medium) the file is a
// per-user copy instead, as the original platform redirects such writes:
// <home>/.local/share/tarnwick/virtual-store/<the file's native path>. Reads see that copy once it
// exists and the file beside the program until then; the first write starts the copy from it.
struct ProfileStore {
    // The file written (and read once it exists). Empty when it would be a per-user copy but
    // the home folder cannot be had: reads then see `original` and writes fail.
    std::string path;
    // The file beside the program when `path` is its per-user copy; empty otherwise.
    std::string original;
    // The home folder the per-user copy lies in: folders missing below it are made on writing.
    std::string home;
};

// The store for a profile file's native path. A folder that does not exist (or cannot be told
// apart from one that may be written) leaves the file where it is.
ProfileStore ProfileStoreFor(const std::string& nativePath);

// Where the per-user copy of a file in a protected folder lies for a home folder.
std::string PerUserProfilePath(const std::string& home, const std::string& nativePath);

// Access to one profile file by its native path. Reads look at the file anew on every call (a
// parse is reused only while the file is provably the same one, unchanged). Writes fail (false)
// and leave the file as it was when the file may not be written (no write permission bit, also
// for root), cannot be read, is too large, or when the new file cannot be written completely
// beside it. An object belongs to one thread at a time.
class ProfileFile {
public:
    explicit ProfileFile(std::string nativePath);
    // A file that may be a per-user copy of another one (see ProfileStore).
    explicit ProfileFile(ProfileStore store);
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    std::optional<std::string> Read(std::string_view section, std::string_view key);
    bool Write(std::string_view section, std::string_view key, std::string_view value);
    bool EraseSection(std::string_view section);

    const std::string& NativePath() const { return path_; }

private:
    const ProfileIndex& CurrentIndex();
    const std::string& ReadSource() const;
    void DropCache();

    std::string path_;
    std::string original_;
    std::string home_;
    // The parsed file, and an open descriptor of the file it came from: holding it keeps the
    // inode number from being reused, so a replaced file is always told apart from the cached one.
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedNs = 0;
        std::int64_t changedNs = 0;
        bool operator==(const Identity&) const = default;
    };
    int cachedFd_ = -1;
    Identity cachedIdentity_;
    ProfileIndex cachedIndex_;
    ProfileIndex emptyIndex_;
};

}  // namespace tarnwick::platform
