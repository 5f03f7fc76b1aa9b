#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/profile/profile.h"
#include "platform/system/system.h"

namespace tarnwick::platform {

namespace {

constexpr const char* kVirtualStore = ".local/share/tarnwick/virtual-store";

enum class FolderAccess { kWritable, kProtected, kUnknown };

// Whether this user may create and replace files in a folder. Root passes the permission check
// everywhere, but not on a read-only mount, which statvfs reports also where access() is not
// asked about it (a folder of a write-protected stick).
FolderAccess AccessTo(const std::string& folder) {
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) != 0) {
        return FolderAccess::kUnknown;
    }
    if ((volume.f_flag & ST_RDONLY) != 0) {
        return FolderAccess::kProtected;
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return FolderAccess::kWritable;
    }
    return errno == EACCES || errno == EPERM || errno == EROFS ? FolderAccess::kProtected
                                                               : FolderAccess::kUnknown;
}

}  // namespace

std::string PerUserProfilePath(const std::string& home, const std::string& nativePath) {
    std::string path = home;
    if (!path.ends_with('/')) {
        path += '/';
    }
    return path + kVirtualStore + nativePath;
}

ProfileStore ProfileStoreFor(const std::string& nativePath) {
    const std::size_t slash = nativePath.rfind('/');
    if (nativePath.empty() || nativePath.front() != '/' || slash == std::string::npos) {
        return {nativePath, {}, {}};
    }
    const std::string folder = slash == 0 ? "/" : nativePath.substr(0, slash);
    if (AccessTo(folder) != FolderAccess::kProtected) {
        return {nativePath, {}, {}};
    }
    const std::optional<std::string> home = HomeFolder();
    struct stat st {};
    if (!home || ::stat(home->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return {{}, nativePath, {}};
    }
    return {PerUserProfilePath(*home, nativePath), nativePath, *home};
}

}  // namespace tarnwick::platform
