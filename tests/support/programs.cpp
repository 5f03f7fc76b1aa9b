#include "support/programs.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace tarnwick::testing {

namespace {

std::string FindProgram(const std::string& name) {
    const char* const path = std::getenv("PATH");
    const std::string folders =
        std::string(path != nullptr ? path : "") + ":/usr/local/sbin:/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start < folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        if (end > start) {
            const std::string candidate = folders.substr(start, end - start) + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

bool HasProgram(const std::string& name) {
    return !FindProgram(name).empty();
}

int RunProgram(const std::vector<std::string>& args, std::string* output) {
    const std::string program = args.empty() ? std::string() : FindProgram(args.front());
    if (program.empty()) {
        return -1;
    }
    int pipeFds[2] = {-1, -1};
    if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(output != nullptr ? pipeFds[1] : devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (output != nullptr) {
        ::close(pipeFds[1]);
        output->clear();
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got > 0) {
                output->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(pipeFds[0]);
    }
    if (child < 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::set<std::string>> RsyncDifferences(const std::filesystem::path& source,
                                                      const std::filesystem::path& destination) {
    std::string output;
    // -8 leaves bytes above 127 as they are, so names come back as they are on disk. Status 23
    // ("some files could not be transferred": a folder where the source has a file, say) still
    // lists every difference.
    const int status = RunProgram({"rsync", "-rcn", "-8", "--itemize-changes",
                                   source.string() + "/", destination.string() + "/"},
                                  &output);
    if (status != 0 && status != 23) {
        return std::nullopt;
    }
    // Lines are "YXcstpoguax name"; other lines ("skipping non-regular file ...") are notes.
    constexpr std::size_t kFlags = 11;
    std::set<std::string> changed;
    std::string_view rest = output;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.size() > kFlags + 1 && line[kFlags] == ' ' &&
            std::string_view("<>ch.*").find(line[0]) != std::string_view::npos &&
            std::string_view("fdLDS").find(line[1]) != std::string_view::npos) {
            changed.emplace(line.substr(kFlags + 1));
        }
    }
    return changed;
}

}  // namespace tarnwick::testing
