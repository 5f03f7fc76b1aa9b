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
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
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
    // Starts `program` with `arguments` and an environment without any display: `environment`,
    // then the test's state folder (the first of two equal names counts); as nobody when
    // `unprivileged` and the test runs as root.
    Started(const fs::path& program, const std::vector<std::string>& arguments,
            const fs::path& errors, bool unprivileged = false,
            std::vector<std::string> environment = {}) {
        if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr) {
            environment.push_back(std::string("XDG_STATE_HOME=") + state);
        }
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
            std::vector<char*> env{const_cast<char*>("PATH=/usr/bin:/bin"),
                                   const_cast<char*>("LC_ALL=C.UTF-8")};
            for (std::string& variable : environment) {
                env.push_back(variable.data());
            }
            env.push_back(nullptr);
            ::execve(program.c_str(), argv.data(), env.data());
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
        {{"--help"}, 0, "  130  the run was cancelled by SIGINT (143: by SIGTERM)", ""},
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

// Waits until the process has the file open (and so, with the file locked, waits there); false
// when it never does (it ended, or went past). Until the program is started the forked child
// still has the test's descriptors.
bool OpensTheFile(pid_t pid, const fs::path& file) {
    const fs::path process = "/proc/" + std::to_string(pid);
    for (int tries = 0; tries < 60000; ++tries) {
        std::error_code ec;
        if (testing::ReadFile(process / "comm") == "tarnwick\n") {
            for (const auto& fd : fs::directory_iterator(process / "fd", ec)) {
                if (fs::read_symlink(fd.path(), ec) == file) {
                    return true;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Holds the lock file at `path` (made with its folders) while it lives.
class HeldLock {
public:
    explicit HeldLock(const fs::path& path) {
        fs::create_directories(path.parent_path());
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_GE(fd_, 0) << path;
        EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
        // The runs of the tests are nobody's when the test is root's.
        if (testing::RunningAsRoot()) {
            EXPECT_EQ(::fchown(fd_, testing::kNobody, testing::kNobody), 0);
        }
    }
    ~HeldLock() { ::close(fd_); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int fd_ = -1;
};

TEST_F(CommandLine, ExitStatusTellsWhatTheRunDid) {
    const fs::path src = work_ / "src";
    const fs::path dst = work_ / "dst";
    const fs::path state = work_ / "state";
    const fs::path lockFile = state / "tarnwick/unattended.lock";
    const std::string stateVariable = "XDG_STATE_HOME=" + state.string();
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::function<void()> setUp;
        int signal;  // sent while the run waits for the lock
        int status;
        std::string line;  // a piece of the output
    };
    const Case cases[] = {
        {"complete", {"--synchronize"}, [] {}, 0, 0, "Total files copied : 1."},
        {"error line",
         {"--synchronize"},
         [&] {
             Store(2, 1, src);
             Store(2, 2, work_ / "gone");
         },
         0,
         1,
         " was not found."},
        {"files left behind",
         {"--synchronize"},
         [&] {
             WriteFile(src / "unreadable.txt", "u");
             fs::permissions(src / "unreadable.txt", fs::perms::none);
         },
         0,
         1,
         "1 file could not be copied to " + Quoted(DrivePath(dst))},
        {"SIGINT", {"--synchronize"}, [] {}, SIGINT, 130, "Cancelled "},
        {"SIGTERM", {"--synchronize"}, [] {}, SIGTERM, 143, "Cancelled "},
        {"usage", {"--synchronize", "now"}, [] {}, 0, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(src);
        fs::remove_all(dst);
        fs::remove(app_ / "tarnwick.INI");
        WriteFile(src / "a.txt", "a");
        fs::create_directories(dst);
        Store(1, 1, src);
        Store(1, 2, dst);
        fs::create_directories(state);
        testing::OpenUpForNobody(work_.path());
        c.setUp();
        std::optional<HeldLock> held;
        if (c.signal != 0) {
            held.emplace(lockFile);
        }
        // As nobody, so that root's access to everything leaves the unreadable file unread.
        Started started(program_, c.arguments, errors_, true, {stateVariable});
        if (c.signal != 0) {
            ASSERT_TRUE(OpensTheFile(started.Pid(), lockFile));
            started.Signal(c.signal);
        }
        std::string out;
        for (const std::string& line : started.Rest()) {
            out += line + "\n";
        }
        EXPECT_EQ(started.Wait(), c.status) << out << Errors();
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
        if (c.status == 0 || c.status == 1 || c.signal != 0) {
            EXPECT_TRUE(out.find("------------ Logging Ends   ") != std::string::npos) << out;
        }
    }
}

TEST_F(CommandLine, EveryRunOfTheUserWaitsForTheSameLock) {
    const fs::path src = work_ / "src";
    const fs::path dst = work_ / "dst";
    WriteFile(src / "a.txt", "a");
    fs::create_directories(dst);
    Store(1, 1, src);
    Store(1, 2, dst);
    testing::OpenUpForNobody(work_.path());
    const uid_t user = testing::RunningAsRoot() ? testing::kNobody : ::getuid();
    // A login session's runtime folder, made for the run that has one where the test can.
    const fs::path runtime = "/run/user/" + std::to_string(user);
    const bool hadRuntime = fs::exists(runtime);
    struct Case {
        const char* what;
        bool runtimeFolder;
        std::vector<std::string> environment;
        fs::path lock;
    };
    const fs::path home = work_ / "home";
    const Case cases[] = {
        {"state folder, logged out",
         false,
         {"XDG_STATE_HOME=" + (work_ / "state").string()},
         work_ / "state/tarnwick/unattended.lock"},
        {"state folder, logged in",
         true,
         {"XDG_STATE_HOME=" + (work_ / "state").string()},
         work_ / "state/tarnwick/unattended.lock"},
        // $HOME counts, not the password database's home (nobody's is /nonexistent).
        {"home only",
         false,
         {"HOME=" + home.string(), "XDG_STATE_HOME="},
         home / ".local/state/tarnwick/unattended.lock"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.runtimeFolder && !hadRuntime) {
            if (!testing::RunningAsRoot()) {
                continue;
            }
            fs::create_directories(runtime);
            ASSERT_EQ(::chown(runtime.c_str(), user, user), 0);
            fs::permissions(runtime, fs::perms::owner_all);
        }
        fs::create_directories(c.lock.parent_path());
        testing::OpenUpForNobody(work_.path());
        {
            const HeldLock held(c.lock);
            Started started(program_, {"--synchronize"}, errors_, true, c.environment);
            ASSERT_TRUE(OpensTheFile(started.Pid(), c.lock));
            started.Signal(SIGTERM);
            const std::vector<std::string> lines = started.Rest();
            EXPECT_EQ(started.Wait(), 143) << Errors();
            ASSERT_EQ(lines.size(), 6U);
            EXPECT_TRUE(lines[1].starts_with("Cancelled ")) << lines[1];
            EXPECT_EQ(lines[3], "Total files copied : 0.");
            EXPECT_FALSE(fs::exists(dst / "a.txt"));
        }
        if (c.runtimeFolder && !hadRuntime) {
            fs::remove_all(runtime);
        }
    }
    // Once the lock is free, the run goes on.
    std::optional<HeldLock> held(std::in_place, cases[0].lock);
    Started started(program_, {"--synchronize"}, errors_, true, cases[0].environment);
    ASSERT_TRUE(OpensTheFile(started.Pid(), cases[0].lock));
    held.reset();
    EXPECT_EQ(started.Rest().size(), 7U);
    EXPECT_EQ(started.Wait(), 0) << Errors();
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
    EXPECT_EQ(started.Wait(), 143) << Errors();

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
