// The system's own drives: its letters, types and volume serials, asked anew each time.
#include <windows.h>

#include <cstring>

#include "platform/volumes/win32_drive_map.h"

namespace tarnwick::platform {

namespace {

std::string RootOf(char letter) {
    return std::string{letter, ':', '\\'};
}

bool MediumIn(const std::string& root) {
    // No error box for a drive without a medium; the answer is enough.
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const bool readable = ::GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr,
                                                  nullptr, nullptr, 0) != FALSE;
    ::SetErrorMode(previous);
    return readable;
}

class Win32DriveMap final : public DriveMap {
public:
    std::vector<Drive> Drives() override {
        std::vector<Drive> drives;
        const DWORD mask = ::GetLogicalDrives();
        char roots[27 * 4 + 1] = {};
        const DWORD length = ::GetLogicalDriveStringsA(sizeof roots - 1, roots);
        if (length == 0 || length >= sizeof roots) {
            return drives;
        }
        for (const char* root = roots; *root != '\0'; root += std::strlen(root) + 1) {
            const char letter = (root[0] >= 'a' && root[0] <= 'z')
                                    ? static_cast<char>(root[0] - 'a' + 'A')
                                    : root[0];
            if (letter < 'A' || letter > 'Z' || (mask & (1U << (letter - 'A'))) == 0) {
                continue;
            }
            Drive drive;
            drive.letter = letter;
            drive.root = RootOf(letter);
            drive.type = ::GetDriveTypeA(drive.root.c_str());
            // Only media that come and go are asked whether one is in; a fixed drive, a share or
            // a RAM disk is its volume.
            drive.hasMedium = (drive.type != DRIVE_REMOVABLE && drive.type != DRIVE_CDROM) ||
                              MediumIn(drive.root);
            drives.push_back(std::move(drive));
        }
        return drives;
    }

    std::optional<Volume> VolumeOf(char letter) override {
        const std::string root = RootOf(letter);
        char label[MAX_PATH + 1] = {};
        DWORD serial = 0;
        const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        const bool read = ::GetVolumeInformationA(root.c_str(), label, sizeof label, &serial,
                                                  nullptr, nullptr, nullptr, 0) != FALSE;
        ::SetErrorMode(previous);
        if (!read) {
            return std::nullopt;
        }
        return Volume{serial, label};
    }
};

}  // namespace

std::shared_ptr<DriveMap> CreateWin32DriveMap() {
    return std::make_shared<Win32DriveMap>();
}

}  // namespace tarnwick::platform
