#pragma once
// Small real volumes for the destination side of a pass: a tmpfs, or an ext4 image on a loop
// device. Mounting needs root; the test program runs in a mount namespace of its own (main.cpp),
// so no other process sees these volumes come and go.

#include <cstddef>
#include <filesystem>
#include <string>

namespace tarnwick::testing {

class ScratchVolume {
public:
    // kExfatFuse: an exFAT image mounted through its FUSE driver, which cannot exchange names.
    enum class Kind { kTmpfs, kExt4, kExfatFuse };

    // Makes the volume (ext4: formats an image beside the mount point) and mounts it; Error()
    // tells why when that failed.
    ScratchVolume(Kind kind, std::filesystem::path mountPoint, std::size_t bytes);
    ~ScratchVolume();
    ScratchVolume(const ScratchVolume&) = delete;
    ScratchVolume& operator=(const ScratchVolume&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }
    const std::filesystem::path& MountPoint() const { return mountPoint_; }
    const char* Name() const {
        return kind_ == Kind::kTmpfs ? "tmpfs" : kind_ == Kind::kExt4 ? "ext4" : "exfat-fuse";
    }

    // Detaches the volume as `umount -l` does: gone from its mount point at once, while files
    // already open on it still work until they are closed.
    bool Detach();
    // The device stops answering, as a stick pulled out mid-write: every later operation on the
    // volume fails (ext4 only). With `journalWritten` the journal is written out first, so what
    // the file system had recorded so far (names, sizes, times) survives, but no data that was
    // still waiting to be written.
    bool Shutdown(bool journalWritten);
    // Mounts again: ext4 the same image (its journal is replayed), tmpfs a new, empty volume.
    bool Mount();

private:
    Kind kind_;
    std::filesystem::path mountPoint_;
    std::filesystem::path image_;
    std::size_t bytes_;
    std::string loop_;  // the loop device a FUSE driver reads (it wants a block device)
    bool mounted_ = false;
    std::string error_;
};

}  // namespace tarnwick::testing
