#pragma once
// The letter memory: which drive letter each volume had, so that a volume gets the same letter
// whenever it is present again, whatever else is mounted.
//
// The choice of letters is a pure function of the present volumes and the memory; the memory is
// kept per user in $XDG_STATE_HOME/tarnwick/letters (default ~/.local/state/tarnwick/letters).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

struct MountEntry;

struct RememberedLetter {
    char letter = 0;             // 'D'..'Z'
    std::uint64_t lastSeen = 0;  // when the volume was last present (seconds, or any rising count)
    std::string identity;        // VolumeIdentity of the volume
    friend bool operator==(const RememberedLetter&, const RememberedLetter&) = default;
};

// At most one entry per letter and per identity.
using LetterMemory = std::vector<RememberedLetter>;

// What names a volume across remounts: its file-system UUID where it has one, for a network file
// system its mount source (server and export), else its file-system type and mount point.
std::string VolumeIdentity(const MountEntry& mount, std::string_view uuid);

// Letters for the present volumes (identities in the order of the mount table; an empty identity
// is a volume that gets a letter but is not remembered): a remembered letter stays with its
// volume; a new volume takes the lowest letter from D: that no present volume holds, preferring
// letters not remembered for another volume; when none is left, the letter whose volume was seen
// longest ago is given away. 0 for a volume left without a letter (more volumes than letters).
// `memory` is updated: present volumes are seen at `now`, letters given away are forgotten.
std::vector<char> AssignLetters(const std::vector<std::string>& present, LetterMemory& memory,
                                std::uint64_t now);

// The memory as its file holds it, and back. Lines that cannot be read are passed over, as are
// later entries for a letter or an identity already read, so a damaged file gives what is left
// of it.
std::string FormatLetterMemory(const LetterMemory& memory);
LetterMemory ParseLetterMemory(std::string_view text);

// The memory file of this user; nullopt when no state folder can be named.
std::optional<std::string> LetterMemoryPath();

// Reads the memory file into `memory`, lets `update` change it, and writes it back (a new file
// renamed into place) if it changed, all under an exclusive lock beside the file, so that two
// processes do not lose each other's letters. A file that cannot be read leaves `memory` as it was
// given (the caller's own copy); a damaged one gives what can be read of it. `update` is called in
// every case. False when the memory could not be locked or written.
bool UpdateLetterMemory(const std::string& path, LetterMemory& memory,
                        const std::function<void(LetterMemory&)>& update);

}  // namespace tarnwick::platform
