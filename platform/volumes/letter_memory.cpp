#include "platform/volumes/letter_memory.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "platform/volumes/mountinfo.h"

namespace tarnwick::platform {

namespace {

constexpr std::string_view kHeader = "tarnwick letters 1";

bool IsDriveLetter(char c) {
    return c >= 'D' && c <= 'Z';
}

// Identities may hold any byte a mount point may: blanks, tabs and line ends are written as %XX.
std::string Escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == '%' || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (text.size() - i < 3 ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr !=
                text.data() + i + 3) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

}  // namespace

std::string VolumeIdentity(const MountEntry& mount, std::string_view uuid) {
    if (!uuid.empty()) {
        return "uuid " + std::string(uuid);
    }
    if (IsNetworkFileSystem(mount.fsType)) {
        return "share " + mount.source + mount.root;
    }
    return "mount " + mount.fsType + " " + mount.mountPoint;
}

std::vector<char> AssignLetters(const std::vector<std::string>& present, LetterMemory& memory,
                                std::uint64_t now) {
    std::vector<char> letters(present.size(), 0);
    bool heldLetters[26] = {};
    const auto held = [&heldLetters](char c) -> bool& { return heldLetters[c - 'A']; };
    const auto remembered = [&memory](std::string_view identity) {
        return std::find_if(memory.begin(), memory.end(),
                            [&](const RememberedLetter& r) { return r.identity == identity; });
    };
    // Remembered letters first, so that a volume keeps its letter whatever comes before it.
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (present[i].empty()) {
            continue;
        }
        const auto entry = remembered(present[i]);
        if (entry != memory.end() && IsDriveLetter(entry->letter) && !held(entry->letter)) {
            letters[i] = entry->letter;
            held(entry->letter) = true;
            entry->lastSeen = now;
        }
    }
    for (std::size_t i = 0; i < present.size(); ++i) {
        if (letters[i] != 0) {
            continue;
        }
        // The lowest letter no present volume holds and no absent one is remembered for; else
        // the free letter whose volume was seen longest ago.
        std::optional<char> chosen;
        auto oldest = memory.end();
        for (char c = 'D'; c <= 'Z' && !chosen; ++c) {
            if (held(c)) {
                continue;
            }
            const auto owner =
                std::find_if(memory.begin(), memory.end(),
                             [c](const RememberedLetter& r) { return r.letter == c; });
            if (owner == memory.end() || owner->identity == present[i]) {
                chosen = c;
            } else if (oldest == memory.end() || owner->lastSeen < oldest->lastSeen) {
                oldest = owner;
            }
        }
        if (!chosen && oldest != memory.end()) {
            chosen = oldest->letter;
        }
        if (!chosen) {
            continue;  // every letter is held by a present volume
        }
        letters[i] = *chosen;
        held(*chosen) = true;
        // A second present volume of one identity (a cloned stick) is not remembered: the
        // letter stays with the first.
        const auto earlier = present.begin() + static_cast<std::ptrdiff_t>(i);
        const bool twin = std::find(present.begin(), earlier, present[i]) != earlier;
        if (present[i].empty() || twin) {
            continue;
        }
        std::erase_if(memory, [&](const RememberedLetter& r) {
            return r.letter == *chosen || r.identity == present[i];
        });
        memory.push_back(RememberedLetter{*chosen, now, present[i]});
    }
    std::sort(
        memory.begin(), memory.end(),
        [](const RememberedLetter& a, const RememberedLetter& b) { return a.letter < b.letter; });
    return letters;
}

std::string FormatLetterMemory(const LetterMemory& memory) {
    std::string text(kHeader);
    text += '\n';
    for (const RememberedLetter& r : memory) {
        text += r.letter;
        text += ' ';
        text += std::to_string(r.lastSeen);
        text += ' ';
        text += Escaped(r.identity);
        text += '\n';
    }
    return text;
}

LetterMemory ParseLetterMemory(std::string_view text) {
    LetterMemory memory;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (std::exchange(first, false)) {
            if (line != kHeader) {
                return {};  // not a memory this program wrote
            }
            continue;
        }
        // "<letter> <last seen> <identity>"
        const std::size_t gap = line.find(' ', 2);
        if (line.size() < 5 || !IsDriveLetter(line[0]) || line[1] != ' ' ||
            gap == std::string_view::npos) {
            continue;
        }
        std::uint64_t seen = 0;
        if (std::from_chars(line.data() + 2, line.data() + gap, seen).ptr != line.data() + gap) {
            continue;
        }
        auto identity = Unescaped(line.substr(gap + 1));
        if (!identity || identity->empty()) {
            continue;
        }
        const bool taken =
            std::any_of(memory.begin(), memory.end(), [&](const RememberedLetter& r) {
                return r.letter == line[0] || r.identity == *identity;
            });
        if (!taken) {
            memory.push_back(RememberedLetter{line[0], seen, std::move(*identity)});
        }
    }
    return memory;
}

}  // namespace tarnwick::platform
