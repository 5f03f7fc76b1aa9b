// Placeholder real drive map: only C: (the root file system). Replaced by the mount-table map.
#include <sys/statfs.h>

#include "platform/linux_drive_map.h"

namespace tarnwick::platform {

namespace {
class RootOnlyDriveMap : public DriveMap {
public:
    std::vector<Drive> Drives() override { return {Drive{'C', "/", kDriveFixed, true}}; }
    std::optional<Volume> VolumeOf(char letter) override {
        struct statfs st{};
        if (letter != 'C' || statfs("/", &st) != 0) {
            return std::nullopt;
        }
        int ids[2];
        static_assert(sizeof(ids) == sizeof(st.f_fsid));
        __builtin_memcpy(ids, &st.f_fsid, sizeof(ids));
        const auto serial = static_cast<std::uint32_t>(ids[0] ^ ids[1]);
        return Volume{serial == 0 ? 1U : serial, ""};
    }
};
}  // namespace

std::shared_ptr<DriveMap> CreateLinuxDriveMap() { return std::make_shared<RootOnlyDriveMap>(); }

}  // namespace tarnwick::platform
