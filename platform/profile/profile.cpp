#include "platform/profile/profile.h"

#include <climits>
#include <vector>

namespace tarnwick::platform {

namespace {

// CR counts as a blank so that a stray CR before the line end, or a last line ending in CR, reads
// the same as a CRLF line.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = Lower(c);
    }
    return folded;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

struct Line {
    std::size_t begin = 0;       // first byte of the line
    std::size_t contentEnd = 0;  // end of the text before the line end
    std::size_t end = 0;         // after the line end ("\n" or "\r\n"); == contentEnd at the end
    LineKind kind = LineKind::kOther;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key lines: the raw value, trimmed
};

Line ClassifyLine(std::string_view text, std::size_t begin, std::size_t contentEnd,
                  std::size_t end) {
    Line line{begin, contentEnd, end, LineKind::kOther, {}, {}};
    const std::string_view content = Trim(text.substr(begin, contentEnd - begin));
    if (content.empty()) {
        line.kind = LineKind::kBlank;
    } else if (content.front() == ';') {
        line.kind = LineKind::kComment;
    } else if (content.front() == '[') {
        // The name ends at the first ']'; a header without one names the rest of the line.
        line.kind = LineKind::kSection;
        line.name = Trim(content.substr(1, content.find(']') - 1));
    } else if (const std::size_t equals = content.find('='); equals != std::string_view::npos) {
        line.name = Trim(content.substr(0, equals));
        line.value = Trim(content.substr(equals + 1));
        line.kind = line.name.empty() ? LineKind::kOther : LineKind::kKey;
    }
    return line;
}

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t newline = text.find('\n', begin);
        if (newline == std::string_view::npos) {
            lines.push_back(ClassifyLine(text, begin, text.size(), text.size()));
            break;
        }
        const std::size_t contentEnd =
            (newline > begin && text[newline - 1] == '\r') ? newline - 1 : newline;
        lines.push_back(ClassifyLine(text, begin, contentEnd, newline + 1));
        begin = newline + 1;
    }
    return lines;
}

// The line end a rewritten file uses: that of its first line; LF for a file without one.
std::string_view LineEndOf(std::string_view text) {
    const std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

// Whether the value is enclosed in one pair of double or of single quotes, which reading drops.
bool Enclosed(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

}  // namespace

// Values that would lose leading or trailing blanks, or a pair of enclosing quotes, on reading
// are written inside double quotes.
std::string EncodedProfileValue(std::string_view value) {
    const bool blankAtEdge = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (blankAtEdge || Enclosed(value)) {
        std::string encoded;
        encoded.reserve(value.size() + 2);
        encoded.push_back('"');
        encoded.append(value);
        encoded.push_back('"');
        return encoded;
    }
    return std::string(value);
}

namespace {

std::string FinishedValue(std::string_view raw) {
    raw = Trim(raw.substr(0, raw.find('\0')));
    if (Enclosed(raw)) {
        raw = raw.substr(1, raw.size() - 2);
    }
    return std::string(raw.substr(0, kMaxProfileValueLength));
}

std::optional<std::size_t> FindSection(const std::vector<Line>& lines, std::string_view section,
                                       std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::kSection && SameName(lines[i].name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

ProfileIndex IndexProfile(std::string_view text) {
    ProfileIndex index;
    // Keys of a section that appeared before go nowhere: only the first section of a name counts.
    std::map<std::string, std::string, std::less<>>* current = nullptr;
    for (const Line& line : SplitLines(text)) {
        if (line.kind == LineKind::kSection) {
            auto [it, inserted] = index.sections.try_emplace(Folded(line.name));
            current = inserted ? &it->second : nullptr;
        } else if (line.kind == LineKind::kKey && current != nullptr) {
            current->try_emplace(Folded(line.name), line.value);
        }
    }
    return index;
}

std::optional<std::string> LookupProfileValue(const ProfileIndex& index, std::string_view section,
                                              std::string_view key) {
    const auto sectionIt = index.sections.find(Folded(Trim(section)));
    if (sectionIt == index.sections.end()) {
        return std::nullopt;
    }
    const auto keyIt = sectionIt->second.find(Folded(Trim(key)));
    if (keyIt == sectionIt->second.end()) {
        return std::nullopt;
    }
    return FinishedValue(keyIt->second);
}

std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    return LookupProfileValue(IndexProfile(text), section, key);
}

bool IsStorableProfileSection(std::string_view section) {
    return !HasLineBreakOrNul(section) && section.find(']') == std::string_view::npos;
}

bool IsStorableProfileKey(std::string_view key) {
    const std::string_view name = Trim(key);
    return !HasLineBreakOrNul(key) && !name.empty() && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

bool IsStorableProfileValue(std::string_view value) {
    return !HasLineBreakOrNul(value);
}

std::optional<std::string> ProfileWithValue(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value) {
    if (!IsStorableProfileSection(section) || !IsStorableProfileKey(key) ||
        !IsStorableProfileValue(value)) {
        return std::nullopt;
    }
    section = Trim(section);
    key = Trim(key);
    const std::string keyLine = std::string(key) + "=" + EncodedProfileValue(value);
    const std::string_view lineEnd = LineEndOf(text);
    const std::vector<Line> lines = SplitLines(text);

    std::string result;
    result.reserve(text.size() + keyLine.size() + section.size() + 8);
    if (const auto header = FindSection(lines, section)) {
        std::size_t insertAfter = *header;
        for (std::size_t i = *header + 1; i < lines.size() && lines[i].kind != LineKind::kSection;
             ++i) {
            if (lines[i].kind != LineKind::kKey) {
                continue;
            }
            if (SameName(lines[i].name, key)) {
                result.append(text.substr(0, lines[i].begin));
                result.append(keyLine);
                result.append(text.substr(lines[i].contentEnd));
                return result;
            }
            insertAfter = i;
        }
        const Line& before = lines[insertAfter];
        result.append(text.substr(0, before.end));
        if (before.end == before.contentEnd) {
            result.append(lineEnd);
        }
        result.append(keyLine);
        result.append(lineEnd);
        result.append(text.substr(before.end));
        return result;
    }

    result.append(text);
    if (!result.empty() && result.back() != '\n') {
        result.append(lineEnd);
    }
    if (!lines.empty() && lines.back().kind != LineKind::kBlank) {
        result.append(lineEnd);
    }
    result.append("[");
    result.append(section);
    result.append("]");
    result.append(lineEnd);
    result.append(keyLine);
    result.append(lineEnd);
    return result;
}

std::string ProfileWithoutSection(std::string_view text, std::string_view section) {
    section = Trim(section);
    const std::vector<Line> lines = SplitLines(text);
    std::string result;
    result.reserve(text.size());
    std::size_t kept = 0;  // text before this offset is decided
    std::size_t from = 0;
    while (const auto header = FindSection(lines, section, from)) {
        result.append(text.substr(kept, lines[*header].begin - kept));
        std::size_t next = *header + 1;
        while (next < lines.size() && lines[next].kind != LineKind::kSection) {
            ++next;
        }
        kept = next < lines.size() ? lines[next].begin : text.size();
        from = next;
    }
    result.append(text.substr(kept));
    return result;
}

std::optional<int> ParseProfileInteger(std::string_view value) {
    // Accumulates in 64 bits and gives up past the int range, so no digit string overflows.
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        for (const char c : value.substr(2)) {
            int digit = 0;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                return std::nullopt;
            }
            magnitude = magnitude * 16 + digit;
            if (magnitude > INT_MAX) {
                return std::nullopt;
            }
        }
        return static_cast<int>(magnitude);
    }
    bool negative = false;
    if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    if (value.empty()) {
        return std::nullopt;
    }
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    if (negative) {
        return static_cast<int>(-magnitude);
    }
    if (magnitude > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(magnitude);
}

}  // namespace tarnwick::platform
