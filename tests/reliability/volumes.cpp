#include "volumes.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "support/programs.h"
#include "support/temp_dir.h"

namespace tarnwick::testing {

namespace fs = std::filesystem;

namespace {

// FS_IOC_SHUTDOWN (ext4, xfs, f2fs): the state a volume is left in when its device goes away.
constexpr unsigned long kShutdownRequest = _IOR('X', 125, std::uint32_t);
constexpr std::uint32_t kShutdownLogFlush = 1;
constexpr std::uint32_t kShutdownNoLogFlush = 2;

}  // namespace

ScratchVolume::ScratchVolume(Kind kind, fs::path mountPoint, std::size_t bytes)
    : kind_(kind),
      mountPoint_(std::move(mountPoint)),
      image_(mountPoint_.string() + ".img"),
      bytes_(bytes) {
    if (!RunningAsRoot()) {
        error_ = "mounting a volume needs root";
        return;
    }
    fs::create_directories(mountPoint_);
    if (kind_ == Kind::kExt4) {
        if (!HasProgram("mkfs.ext4")) {
            error_ = "mkfs.ext4 is not installed";
            return;
        }
        if (RunProgram({"truncate", "-s", std::to_string(bytes_), image_.string()}) != 0 ||
            RunProgram({"mkfs.ext4", "-q", "-F", "-m", "0", image_.string()}) != 0) {
            error_ = "cannot make an ext4 image";
            return;
        }
    }
    if (kind_ == Kind::kExfatFuse) {
        if (!HasProgram("mkfs.exfat") || !HasProgram("mount.exfat-fuse")) {
            error_ = "mkfs.exfat or mount.exfat-fuse is not installed";
            return;
        }
        if (RunProgram({"truncate", "-s", std::to_string(bytes_), image_.string()}) != 0 ||
            RunProgram({"mkfs.exfat", image_.string()}) != 0) {
            error_ = "cannot make an exFAT image";
            return;
        }
    }
    // A volume as a stick comes: empty (ext4 makes a folder of its own).
    if (Mount() && kind_ == Kind::kExt4) {
        fs::remove(mountPoint_ / "lost+found");
    }
}

ScratchVolume::~ScratchVolume() {
    if (mounted_) {
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    if (!loop_.empty()) {
        RunProgram({"losetup", "-d", loop_});
    }
}

bool ScratchVolume::Mount() {
    if (kind_ == Kind::kTmpfs) {
        const std::string options = "size=" + std::to_string(bytes_);
        mounted_ = ::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) {
            error_ = std::string("cannot mount a tmpfs volume: ") + std::strerror(errno);
        }
    } else if (kind_ == Kind::kExfatFuse) {
        if (loop_.empty()) {
            std::string loop;
            if (RunProgram({"losetup", "-f", "--show", image_.string()}, &loop) != 0) {
                error_ = "no loop device for the exFAT image";
                return false;
            }
            loop_ = loop.substr(0, loop.find('\n'));
        }
        mounted_ = RunProgram({"mount.exfat-fuse", loop_, mountPoint_.string()}) == 0;
        if (!mounted_) {
            error_ = "cannot mount an exFAT image through its FUSE driver";
        }
    } else {
        mounted_ = RunProgram({"mount", "-t", "ext4", "-o", "loop", image_.string(),
                               mountPoint_.string()}) == 0;
        if (!mounted_) {
            error_ = "cannot mount an ext4 image on a loop device";
        }
    }
    return mounted_;
}

bool ScratchVolume::Detach() {
    const bool detached = ::umount2(mountPoint_.c_str(), MNT_DETACH) == 0;
    mounted_ = mounted_ && !detached;
    return detached;
}

bool ScratchVolume::Shutdown(bool journalWritten) {
    const int fd = ::open(mountPoint_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::uint32_t flags = journalWritten ? kShutdownLogFlush : kShutdownNoLogFlush;
    const bool done = ::ioctl(fd, kShutdownRequest, &flags) == 0;
    ::close(fd);
    return done;
}

}  // namespace tarnwick::testing
