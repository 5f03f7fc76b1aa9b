#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace tarnwick::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore permissions a test may have taken away, so that everything can be removed.
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void SetLastWrite(const fs::path& file, platform::FileTime lastWrite) {
    // The access time too: FUSE drivers of sticks (exFAT) ignore a last-write time without one.
    const timespec time = platform::TimespecFromFileTime(lastWrite);
    const timespec times[2] = {time, time};
    if (utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("cannot set the time of " + file.string());
    }
}

platform::FileTime LastWrite(const fs::path& file) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        throw std::runtime_error("cannot stat " + file.string());
    }
    return platform::FileTimeFromTimespec(st.st_mtim);
}

bool RunningAsRoot() {
    return geteuid() == 0;
}

}  // namespace tarnwick::testing
