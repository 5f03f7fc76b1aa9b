// The executable started from a command line, without any display: its answers, --synchronize as
// an ordinary user, and SIGTERM in the middle of a large run.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/run.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"
#include "support/temp_dir.h"
#include "support/unprivileged.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

// A started program: its standard output as lines, its standard error into a file.
class Started {
public:
    // Starts `program` with `arguments` and an environment without any display; as nobody when
    // `unprivileged` and the test runs as root.
    Started(const fs::path& program, const std::vector<std::string>& arguments,
            const fs::path& errors, bool unprivileged = false) {
        int out[2];
        if (::pipe(out) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            std::FILE* err = std::fopen(errors.c_str(), "w");
            if (err != nullptr) {
                ::dup2(fileno(err), 2);
            }
            if (unprivileged && ::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(testing::kNobody) != 0 ||
                 ::setuid(testing::kNobody) != 0)) {
                ::_exit(127);
            }
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            char* env[] = {const_cast<char*>("PATH=/usr/bin:/bin"),
                           const_cast<char*>("LC_ALL=C.UTF-8"), nullptr};
            ::execve(program.c_str(), argv.data(), env);
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = ::fdopen(out[0], "r");
    }
    ~Started() {
        if (out_ != nullptr) {
            std::fclose(out_);
        }
        if (pid_ > 0) {
            Wait();
        }
    }

    // The next line without its line feed; nullopt at the end of the output.
    std::optional<std::string> Line() {
        char* text = nullptr;
        std::size_t size = 0;
        const ssize_t length = out_ == nullptr ? -1 : ::getline(&text, &size, out_);
        std::optional<std::string> line;
        if (length >= 0) {
            line.emplace(text, static_cast<std::size_t>(length));
            if (line->ends_with('\n')) {
                line->pop_back();
            }
        }
        std::free(text);
        return line;
    }
    std::vector<std::string> Rest() {
        std::vector<std::string> lines;
        while (auto line = Line()) {
            lines.push_back(*line);
        }
        return lines;
    }
    void Signal(int number) const { ::kill(pid_, number); }
    pid_t Pid() const { return pid_; }
    // The exit status; -1 when the program did not end normally.
    int Wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
            if (errno != EINTR) {
                return -1;
            }
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
};

// The date-time text with each digit replaced, to compare its shape with the locale's.
std::string Shape(std::string text) {
    for (char& c : text) {
        c = (c >= '0' && c <= '9') ? '9' : c;
    }
    return text;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(app_);
        fs::copy_file(TARNWICK_EXECUTABLE, program_);
        // The settings are written where the copy will read them.
        platform::SetExecutablePathForTesting(program_.string());
    }
    void TearDown() override { platform::SetExecutablePathForTesting(std::nullopt); }

    // The drive path of a folder of the test, as the folder dialog would save it.
    static std::string DrivePath(const fs::path& folder) {
        return platform::ToDrivePath(folder.string()).value_or("");
    }
    static void Store(int group, int entry, const fs::path& folder, bool merge = false) {
        const std::string path = DrivePath(folder);
        ASSERT_FALSE(path.empty());
        const auto volume = platform::VolumeInformation(path[0]);
        const std::string serial = volume ? std::to_string(volume->serial) : "";
        ASSERT_TRUE(WriteFolderEntry(
            group, entry,
            {path, static_cast<int>(platform::DriveTypeOf(path[0])), serial, merge, true}));
    }

    std::string Errors() const { return testing::ReadFile(errors_); }

    TempDir work_;
    const fs::path app_ = work_ / "app";
    const fs::path program_ = app_ / "tarnwick";
    const fs::path errors_ = work_ / "errors.txt";
};

TEST_F(CommandLine, HelpVersionAndWordsNotUnderstood) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;  // a piece of the standard output
        std::string err;  // a piece of the standard error
    };
    const Case cases[] = {
        {{"--help"}, 0, "  tarnwick --watch ", ""},
        {{"--version"}, 0, "Tarnwick " TARNWICK_VERSION "\n", ""},
        {{"--synchronise"}, 2, "", "tarnwick: --synchronise: not understood"},
        {{"--help", "--version"}, 2, "", "Usage:"},
        {{""}, 2, "", "  tarnwick --synchronize "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        Started started(program_, c.arguments, errors_);
        std::string out;
        for (const std::string& line : started.Rest()) {
            out += line + "\n";
        }
        EXPECT_EQ(started.Wait(), c.status);
        EXPECT_NE(out.find(c.out), std::string::npos) << out;
        EXPECT_NE(Errors().find(c.err), std::string::npos) << Errors();
        if (c.status != 0) {
            EXPECT_EQ(out, "");
        }
    }
    // The three ways to start.
    Started help(program_, {"--help"}, errors_);
    const std::vector<std::string> lines = help.Rest();
    for (const std::string way :
         {"  tarnwick  ", "  tarnwick --synchronize  ", "  tarnwick --watch  "}) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.starts_with(way);
        })) << way;
    }
}

TEST_F(CommandLine, SynchronizeAsAnOrdinaryUserWithoutADisplay) {
    const fs::path src = work_ / "Documents";
    const fs::path dst = work_ / "Backup";
    WriteFile(src / "a.txt", "a");
    WriteFile(src / "sub/b.txt", "b");
    fs::create_directories(dst);
    Store(1, 1, src);
    Store(1, 2, dst);
    testing::OpenUpForNobody(work_.path());

    const auto frame = [](const std::string& head) {
        return Shape(head + DateTimeText() + " ------------");
    };
    const auto run = [&] {
        Started started(program_, {"--synchronize"}, errors_, true);
        std::vector<std::string> lines = started.Rest();
        for (std::string& line : lines) {
            if (line.starts_with("------------") || line.starts_with("Error ")) {
                line = Shape(line);
            }
        }
        return std::pair(started.Wait(), lines);
    };
    const std::string pass =
        "Synchronising from " + Quoted(DrivePath(src)) + " to " + Quoted(DrivePath(dst));
    const std::vector<std::string> copied = {frame("------------ Logging Starts "),
                                             pass,
                                             "2 files copied.",
                                             "",
                                             "Total files copied : 2.",
                                             "",
                                             frame("------------ Logging Ends   ")};
    EXPECT_EQ(run(), std::pair(0, copied)) << Errors();
    EXPECT_EQ(testing::ReadFile(dst / "a.txt"), "a");
    EXPECT_EQ(testing::ReadFile(dst / "sub/b.txt"), "b");
    struct stat st {};
    ASSERT_EQ(::stat((dst / "a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, testing::RunningAsRoot() ? testing::kNobody : ::getuid());

    // A group whose destination is missing: its error line, status 1.
    const fs::path gone = work_ / "gone";
    Store(2, 1, src);
    Store(2, 2, gone, true);
    const std::vector<std::string> missing = {
        frame("------------ Logging Starts "),
        pass,
        "Synchronising from " + Quoted(DrivePath(src)) + " to " + Quoted(DrivePath(gone)),
        Shape("Error " + DateTimeText() + " The folder " + Quoted(DrivePath(gone)) +
              " was not found."),
        "Synchronising from " + Quoted(DrivePath(gone)) + " to " + Quoted(DrivePath(src)),
        Shape("Error " + DateTimeText() + " The folder " + Quoted(DrivePath(gone)) +
              " was not found."),
        "",
        "Total files copied : 0.",
        "",
        frame("------------ Logging Ends   ")};
    EXPECT_EQ(run(), std::pair(1, missing)) << Errors();
    EXPECT_FALSE(fs::exists(gone));
}

TEST_F(CommandLine, ARunWaitsWhileAnotherHoldsTheLockAndIsCancelledThere) {
    const fs::path src = work_ / "src";
    const fs::path dst = work_ / "dst";
    WriteFile(src / "a.txt", "a");
    fs::create_directories(dst);
    Store(1, 1, src);
    Store(1, 2, dst);
    const std::optional<std::string> runtime = platform::UserRuntimeFolder();
    ASSERT_TRUE(runtime);
    fs::create_directories(*runtime);
    const fs::path lockFile = fs::path(*runtime) / "unattended.lock";
    const int held = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    // The run has opened the lock file, and goes no further while the file is locked. (Until
    // the program is started the forked child still has the test's descriptor of the file.)
    const auto waiting = [&](pid_t pid) {
        const fs::path process = "/proc/" + std::to_string(pid);
        if (testing::ReadFile(process / "comm") != "tarnwick\n") {
            return false;
        }
        const fs::path fds = process / "fd";
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator(fds, ec)) {
            if (fs::read_symlink(fd.path(), ec) == lockFile) {
                return true;
            }
        }
        return false;
    };
    {
        Started started(program_, {"--synchronize"}, errors_);
        while (!waiting(started.Pid())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        started.Signal(SIGTERM);
        const std::vector<std::string> lines = started.Rest();
        EXPECT_EQ(started.Wait(), 0);
        ASSERT_EQ(lines.size(), 6U);
        EXPECT_TRUE(lines[1].starts_with("Cancelled ")) << lines[1];
        EXPECT_EQ(lines[3], "Total files copied : 0.");
        EXPECT_FALSE(fs::exists(dst / "a.txt"));
    }
    Started started(program_, {"--synchronize"}, errors_);
    while (!waiting(started.Pid())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(held);
    EXPECT_EQ(started.Rest().size(), 7U);
    EXPECT_EQ(started.Wait(), 0);
    EXPECT_TRUE(fs::exists(dst / "a.txt"));
}

TEST_F(CommandLine, TerminatedDuringALargeRunEndsItsLogAndLeavesNoPartialFile) {
    constexpr int kFiles = 20000;
    const fs::path src = work_ / "large";
    const fs::path dst = work_ / "copy";
    for (int i = 0; i < kFiles; ++i) {
        WriteFile(src / std::to_string(i % 100) / std::to_string(i), std::string(i % 4096, 'x'));
    }
    fs::create_directories(dst);
    Store(1, 1, src);
    Store(1, 2, dst);

    Started started(program_, {"--synchronize"}, errors_);
    ASSERT_TRUE(started.Line().value_or("").starts_with("------------ Logging Starts "));
    ASSERT_TRUE(started.Line().value_or("").starts_with("Synchronising from "));
    // Stopped once the first copies are there, while the others are on their way.
    const auto copies = [&] {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dst)) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    };
    for (int i = 0; i < 60000 && copies() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    started.Signal(SIGTERM);
    std::vector<std::string> lines = started.Rest();
    EXPECT_EQ(started.Wait(), 0) << Errors();

    ASSERT_GE(lines.size(), 4U);
    const std::size_t n = lines.size();
    EXPECT_TRUE(lines[n - 1].starts_with("------------ Logging Ends   "));
    EXPECT_EQ(lines[n - 2], "");
    ASSERT_TRUE(lines[n - 3].starts_with("Total files copied : ")) << lines[n - 3];
    const int total = std::stoi(lines[n - 3].substr(21));
    EXPECT_LT(total, kFiles);
    // Every file there is a whole copy, counted; no temporary file is left.
    EXPECT_EQ(copies(), total);
    for (const auto& entry : fs::recursive_directory_iterator(dst)) {
        if (entry.is_regular_file()) {
            const fs::path source = src / fs::relative(entry.path(), dst);
            ASSERT_TRUE(fs::exists(source)) << "left over: " << entry.path();
            EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(source)) << entry.path();
        }
    }
}

}  // namespace
}  // namespace tarnwick
