#pragma once
// A drive map for tests: letters mapped to temporary folders, each with its own type, serial,
// label, presence and medium. Install it with ScopedDriveMap; the real map comes back when the
// scope ends.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/volumes/drives.h"

namespace tarnwick::testing {

struct FixtureDrive {
    std::string root;  // native folder of the drive's root
    std::uint32_t type = platform::kDriveFixed;
    std::uint32_t serial = 0x1234ABCD;
    std::string label;
    bool present = true;
    bool hasMedium = true;
};

class FixtureDriveMap : public platform::DriveMap {
public:
    void Set(char letter, FixtureDrive drive);
    void Remove(char letter);
    void SetPresent(char letter, bool present);
    void SetMedium(char letter, bool hasMedium);
    void SetSerial(char letter, std::uint32_t serial);

    std::vector<platform::Drive> Drives() override;
    std::optional<platform::Volume> VolumeOf(char letter) override;

private:
    std::mutex mutex_;
    std::map<char, FixtureDrive> drives_;
};

// Installs a fixture map for the lifetime of the object.
class ScopedDriveMap {
public:
    ScopedDriveMap();
    ~ScopedDriveMap();
    ScopedDriveMap(const ScopedDriveMap&) = delete;
    ScopedDriveMap& operator=(const ScopedDriveMap&) = delete;

    FixtureDriveMap& operator*() { return *map_; }
    FixtureDriveMap* operator->() { return map_.get(); }

private:
    std::shared_ptr<FixtureDriveMap> map_;
};

}  // namespace tarnwick::testing
