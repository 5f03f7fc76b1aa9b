// What both systems' files share: the moves of an open folder and of a copy in flight, the names
// of temporary copies and their keys, and a single copy made at once.
#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "platform/files/copies.h"
#include "platform/files/files.h"
#include "platform/files/moved_aside.h"
#include "platform/files/phrase.h"

namespace tarnwick::platform {

Directory::Directory(Directory&& other) noexcept {
    *this = std::move(other);
}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        native_ = std::move(other.native_);
        listing_ = std::move(other.listing_);
        listingPosition_ = other.listingPosition_;
        listingEnd_ = other.listingEnd_;
        listingDone_ = other.listingDone_;
        lastKind_ = other.lastKind_;
        leftOut_ = other.leftOut_;
        listingError_ = other.listingError_;
        refusesLinks_ = other.refusesLinks_;
        identityKnown_ = other.identityKnown_;
        device_ = other.device_;
        inode_ = other.inode_;
        id_ = other.id_;
        traitsKnown_ = other.traitsKnown_;
        restamps_ = other.restamps_;
        serialises_ = other.serialises_;
        permissions_ = other.permissions_;
        durability_ = other.durability_;
        clocks_ = other.clocks_;
    }
    return *this;
}

Directory::~Directory() {
    Close();
}

TemporaryCopy::TemporaryCopy(TemporaryCopy&& other) noexcept {
    *this = std::move(other);
}

TemporaryCopy& TemporaryCopy::operator=(TemporaryCopy&& other) noexcept {
    if (this != &other) {
        Discard();
        out_ = std::exchange(other.out_, -1);
        folder_ = other.folder_;
        toName_ = std::move(other.toName_);
        target_ = other.target_;
        size_ = other.size_;
        accessed_ = other.accessed_;
        written_ = other.written_;
        std::copy(std::begin(other.temporary_), std::end(other.temporary_), temporary_);
        other.temporary_[0] = '\0';
    }
    return *this;
}

// What was written and not named goes (each system's Discard); nothing else is touched.
TemporaryCopy::~TemporaryCopy() {
    Discard();
}

std::string AsPhrase(std::string sentence) {
    if (!sentence.empty() && sentence[0] >= 'A' && sentence[0] <= 'Z' &&
        (sentence.size() < 2 || !(sentence[1] >= 'A' && sentence[1] <= 'Z'))) {
        sentence[0] = static_cast<char>(sentence[0] - 'A' + 'a');
    }
    return sentence;
}

namespace {

// The program's own refusals in its own words; the system's errors are told by each system.
std::string RefusalText(FileRefusal refusal) {
    switch (refusal) {
        case FileRefusal::kTargetChanged:
            return "changed during the run";
        case FileRefusal::kReadOnly:
            return "read-only";
        case FileRefusal::kSourceChanged:
            return "changed during the copy";
        case FileRefusal::kNotAFile:
            return "not a file";
        case FileRefusal::kNotDurable:
            return "not written to the device";
        case FileRefusal::kNone:
        case FileRefusal::kSystem:
            break;
    }
    return {};
}

}  // namespace

std::string FileError::Text() const {
    return error != 0 ? FileErrorText(error) : RefusalText(refusal);
}

std::string AsideNameOf(std::string_view name, std::uint64_t process, std::uint64_t sequence) {
    std::string aside(kAsidePrefix);
    aside += std::to_string(process);
    aside += '-';
    aside += std::to_string(sequence);
    aside += '-';
    aside += name;
    return aside;
}

std::string_view OwnNameIn(std::string_view aside) {
    if (!aside.starts_with(kAsidePrefix)) {
        return {};
    }
    std::string_view rest = aside.substr(kAsidePrefix.size());
    for (int number = 0; number < 2; ++number) {
        const std::size_t digits = rest.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string_view::npos || rest[digits] != '-') {
            return {};
        }
        rest.remove_prefix(digits + 1);
    }
    return rest;
}

std::string KeptBesideName(std::string_view name, int number) {
    const std::size_t dot = name.rfind('.');
    const bool extension = dot != std::string_view::npos && dot > 0;
    std::string beside(extension ? name.substr(0, dot) : name);
    beside += number == 1 ? " (kept)" : " (kept " + std::to_string(number) + ")";
    beside += extension ? name.substr(dot) : std::string_view();
    return beside;
}

void CountGivenBack(FilesGivenBack& givenBack, Restored restored) {
    switch (restored) {
        case Restored::kOwnName:
            ++givenBack.ownName;
            break;
        case Restored::kBeside:
            ++givenBack.beside;
            break;
        case Restored::kFailed:
            break;
    }
}

bool IsTemporaryCopyName(std::string_view name) {
    if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
        return false;
    }
    const std::string_view middle = name.substr(
        kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
    return middle.find_first_not_of("0123456789-") == std::string_view::npos;
}

std::uint64_t CaseFoldedKey(std::uint64_t device, std::uint64_t inode, std::string_view name) {
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    const auto mix = [&hash](std::uint64_t byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    for (int shift = 0; shift < 64; shift += 8) {
        mix((device >> shift) & 0xFF);
        mix((inode >> shift) & 0xFF);
    }
    for (const char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 'A' && byte <= 'Z') {
            byte = static_cast<unsigned char>(byte - 'A' + 'a');
        } else if (byte >= 0x80) {
            byte = 0x80;
        }
        mix(byte);
    }
    return hash;
}

// The old target stays as it is until the complete copy, with its time, takes its name, and
// that happens only once its data is on the device. The copy pass keeps its copies in batches
// that share one flush (engine/copy_batch.h).
bool CopyFileAt(const Directory& from, const std::string& name, const Directory& to,
                const std::string& toName, bool failIfExists, std::optional<FileTime> lastWrite) {
    try {
        // Held while the copy is made, so that its temporary file is not taken for a leftover.
        const std::shared_ptr<HeldFolder> held = HeldFolder::Hold(to);
        FileError why;
        auto copy = TemporaryCopy::Write(from, name, to, toName, failIfExists, lastWrite, nullptr,
                                         held.get(), false, why);
        return copy && !copy->NameNow(to);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarnwick::platform
