// Hostile profile texts: the reader never crashes, and the writer changes exactly what it is asked
// to and nothing else, whatever the text around it holds.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/profile/profile.h"

namespace {

using tarnwick::platform::IndexProfile;
using tarnwick::platform::kMaxProfileValueLength;
using tarnwick::platform::ParseProfileInteger;
using tarnwick::platform::ProfileIndex;
using tarnwick::platform::ProfileValue;
using tarnwick::platform::ProfileWithoutSection;
using tarnwick::platform::ProfileWithValue;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string FoldedName(std::string name) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!name.empty() && blank(name.back())) {
        name.pop_back();
    }
    std::size_t start = 0;
    while (start < name.size() && blank(name[start])) {
        ++start;
    }
    name.erase(0, start);
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return name;
}

// Two indexes hold the same values, leaving out one key (or a whole section when key is null).
bool SameExcept(const ProfileIndex& a, const ProfileIndex& b, const std::string& section,
                const std::string* key) {
    const auto without = [&](const ProfileIndex& index) {
        ProfileIndex copy = index;
        if (key == nullptr) {
            copy.sections.erase(section);
        } else if (auto it = copy.sections.find(section); it != copy.sections.end()) {
            it->second.erase(*key);
            if (it->second.empty()) {
                copy.sections.erase(it);
            }
        }
        return copy.sections;
    };
    return without(a) == without(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string section = provider.ConsumeRandomLengthString(32);
    const std::string key = provider.ConsumeRandomLengthString(32);
    const std::string value = provider.ConsumeRandomLengthString(4096);
    const std::string text = provider.ConsumeRemainingBytesAsString();

    const ProfileIndex before = IndexProfile(text);
    (void)ProfileValue(text, section, key);

    if (const auto written = ProfileWithValue(text, section, key, value)) {
        Check(ProfileValue(*written, section, key) == value.substr(0, kMaxProfileValueLength));
        const std::string foldedKey = FoldedName(key);
        Check(SameExcept(before, IndexProfile(*written), FoldedName(section), &foldedKey));
        // Writing the same again changes nothing more.
        Check(ProfileWithValue(*written, section, key, value) == *written);
    }

    const std::string erased = ProfileWithoutSection(text, section);
    Check(erased.size() <= text.size());
    Check(!ProfileValue(erased, section, key).has_value());
    Check(SameExcept(before, IndexProfile(erased), FoldedName(section), nullptr));

    if (const auto number = ParseProfileInteger(value)) {
        Check(ParseProfileInteger(std::to_string(*number)) == number);
    }
    return 0;
}
