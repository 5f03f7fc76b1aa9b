#pragma once
// A drive map for tests: letters mapped to temporary folders, each with its own type, serial,
// label, presence and medium. Install it with ScopedDriveMap; the real map comes back when the
// scope ends.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
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
    // A volume that stopped answering, as a share or a stopped FUSE driver: VolumeOf waits until
    // it answers again. Other drives answer meanwhile.
    void SetAnswering(char letter, bool answering);

    std::vector<platform::Drive> Drives() override;
    std::optional<platform::Volume> VolumeOf(char letter) override;

private:
    std::mutex mutex_;
    std::condition_variable answeringChanged_;
    std::map<char, FixtureDrive> drives_;
    std::set<char> silent_;
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
