#include "support/fixture_drive_map.h"

#include <cctype>

namespace tarnwick::testing {

namespace {
char Upper(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}
}  // namespace

void FixtureDriveMap::Set(char letter, FixtureDrive drive) {
    std::lock_guard lock(mutex_);
    drives_[Upper(letter)] = std::move(drive);
}

void FixtureDriveMap::Remove(char letter) {
    std::lock_guard lock(mutex_);
    drives_.erase(Upper(letter));
}

void FixtureDriveMap::SetPresent(char letter, bool present) {
    std::lock_guard lock(mutex_);
    drives_.at(Upper(letter)).present = present;
}

void FixtureDriveMap::SetMedium(char letter, bool hasMedium) {
    std::lock_guard lock(mutex_);
    drives_.at(Upper(letter)).hasMedium = hasMedium;
}

void FixtureDriveMap::SetSerial(char letter, std::uint32_t serial) {
    std::lock_guard lock(mutex_);
    drives_.at(Upper(letter)).serial = serial;
}

void FixtureDriveMap::SetAnswering(char letter, bool answering) {
    std::lock_guard lock(mutex_);
    if (answering) {
        silent_.erase(Upper(letter));
    } else {
        silent_.insert(Upper(letter));
    }
    answeringChanged_.notify_all();
}

std::vector<platform::Drive> FixtureDriveMap::Drives() {
    std::lock_guard lock(mutex_);
    std::vector<platform::Drive> result;
    for (const auto& [letter, drive] : drives_) {
        if (drive.present) {
            result.push_back({letter, drive.root, drive.type, drive.hasMedium});
        }
    }
    return result;
}

std::optional<platform::Volume> FixtureDriveMap::VolumeOf(char letter) {
    std::unique_lock lock(mutex_);
    answeringChanged_.wait(lock, [this, letter] { return !silent_.contains(Upper(letter)); });
    const auto it = drives_.find(Upper(letter));
    if (it == drives_.end() || !it->second.present || !it->second.hasMedium) {
        return std::nullopt;
    }
    return platform::Volume{it->second.serial, it->second.label};
}

ScopedDriveMap::ScopedDriveMap() : map_(std::make_shared<FixtureDriveMap>()) {
    platform::SetDriveMapForTesting(map_);
}

ScopedDriveMap::~ScopedDriveMap() {
    platform::SetDriveMapForTesting(nullptr);
}

}  // namespace tarnwick::testing
