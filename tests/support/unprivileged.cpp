#include "support/unprivileged.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>

namespace tarnwick::testing {

namespace fs = std::filesystem;

int RunInChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        int result = 255;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunUnprivileged(const std::function<int()>& body) {
    return RunInChild([&body] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            return 255;
        }
        return body();
    });
}

void OpenUpForNobody(const fs::path& folder) {
    std::error_code ec;
    for (fs::path above = folder.parent_path(); !above.empty() && above != above.root_path();
         above = above.parent_path()) {
        fs::permissions(above, fs::perms::others_exec, fs::perm_options::add, ec);
    }
    const auto openUp = [](const fs::path& p) {
        std::error_code ignored;
        fs::permissions(p, fs::perms::all, fs::perm_options::add, ignored);
        if (::geteuid() == 0) {
            ::lchown(p.c_str(), kNobody, kNobody);
        }
    };
    openUp(folder);
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec)) {
            openUp(it->path());
        }
    }
}

}  // namespace tarnwick::testing
