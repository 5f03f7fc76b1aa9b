#include "platform/system/system.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

TEST(System, ComputerNameIsTheShortHostNameInUpperCase) {
    const auto name = ComputerName();
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->empty());
    EXPECT_LE(name->size(), 15U);
    EXPECT_EQ(name->find('.'), std::string::npos);
    for (const char c : *name) {
        EXPECT_FALSE(c >= 'a' && c <= 'z') << *name;
    }

    SetComputerNameForTesting("OTHERPC");
    EXPECT_EQ(ComputerName(), "OTHERPC");
    SetComputerNameForTesting("");
    EXPECT_EQ(ComputerName(), std::nullopt);
    SetComputerNameForTesting(std::nullopt);
    EXPECT_EQ(ComputerName(), name);
}

TEST(System, ExecutablePathIsADrivePath) {
    const auto native = NativeExecutablePath();
    ASSERT_TRUE(native);
    EXPECT_NE(native->find("/platform_tests"), std::string::npos) << *native;

    testing::TempDir temp;
    testing::ScopedDriveMap map;
    testing::FixtureDrive c;
    c.root = "/";
    map->Set('C', c);
    testing::FixtureDrive stick;
    stick.root = temp.str();
    map->Set('E', stick);

    SetExecutablePathForTesting(temp.str() + "/tools/tarnwick");
    EXPECT_EQ(NativeExecutablePath(), temp.str() + "/tools/tarnwick");
    EXPECT_EQ(ExecutablePath(), "E:\\tools\\tarnwick");
    SetExecutablePathForTesting("/opt/" + std::string(1100, 'x'));
    EXPECT_EQ(ExecutablePath(), std::nullopt);  // longer than the 1,024-byte exchange buffer
    SetExecutablePathForTesting("/opt/back\\slash/tarnwick");
    EXPECT_EQ(ExecutablePath(), std::nullopt);
    SetExecutablePathForTesting("");
    EXPECT_EQ(NativeExecutablePath(), std::nullopt);
    EXPECT_EQ(ExecutablePath(), std::nullopt);
    SetExecutablePathForTesting(std::nullopt);
    EXPECT_EQ(NativeExecutablePath(), native);
}

TEST(System, HomeAndStateFolderComeFromTheEnvironmentFirst) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const std::string database = entry->pw_dir;
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::optional<std::string> home = saved("HOME");
    const std::optional<std::string> state = saved("XDG_STATE_HOME");
    struct Case {
        std::optional<std::string> home;
        std::optional<std::string> state;
        std::optional<std::string> homeFolder;
        std::optional<std::string> stateFolder;
    };
    const Case cases[] = {
        {"/elsewhere", std::nullopt, "/elsewhere", "/elsewhere/.local/state/tarnwick"},
        {"/elsewhere/", "/var/state", "/elsewhere/", "/var/state/tarnwick"},
        // Not absolute, or not there: the password database.
        {"relative", "relative", database, database + "/.local/state/tarnwick"},
        {std::nullopt, std::nullopt, database, database + "/.local/state/tarnwick"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home.value_or("(unset)"));
        const auto set = [](const char* name, const std::optional<std::string>& value) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        };
        set("HOME", c.home);
        set("XDG_STATE_HOME", c.state);
        EXPECT_EQ(HomeFolder(), c.homeFolder);
        EXPECT_EQ(UserStateFolder(), c.stateFolder);
    }
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");
    state ? ::setenv("XDG_STATE_HOME", state->c_str(), 1) : ::unsetenv("XDG_STATE_HOME");
    SetHomeFolderForTesting("");
    EXPECT_EQ(HomeFolder(), std::nullopt);
    SetHomeFolderForTesting(std::nullopt);
}

TEST(System, MappedFileIsFoundByAddressInTheMemoryMap) {
    const std::string maps =
        "55d0c0a00000-55d0c0a21000 rw-p 00000000 00:00 0                          [heap]\n"
        "7f10a0000000-7f10a0010000 r--p 00000000 08:01 1234   /media/ann/MY STICK/tarnwick\n"
        "7f10a0010000-7f10a0020000 r-xp 00010000 00:2f 99 /opt/t/tarnwick (deleted)\n"
        "7f10a0020000-7f10a0030000 rw-p 00000000 00:00 0\n"
        "garbage line\n";
    const struct {
        std::uintptr_t address;
        std::optional<std::string> path;
        std::uint64_t inode;
    } cases[] = {
        {0x7f10a0000000, "/media/ann/MY STICK/tarnwick", 1234},
        {0x7f10a000ffff, "/media/ann/MY STICK/tarnwick", 1234},
        {0x7f10a0010000, "/opt/t/tarnwick (deleted)", 99},
        {0x55d0c0a00010, std::nullopt, 0},  // no file
        {0x7f10a0020000, std::nullopt, 0},  // anonymous
        {0x1000, std::nullopt, 0},          // nothing mapped
    };
    for (const auto& c : cases) {
        const std::optional<MappedFile> found = MappedFileAt(maps, c.address);
        EXPECT_EQ(found ? std::optional(found->path) : std::nullopt, c.path) << c.address;
        EXPECT_EQ(found ? found->inode : 0, c.inode);
    }
}

// Run by the test below in a copy of this program: replaces the copy's own file, as an update
// does, and answers with its exit status whether the path still names the program's place.
TEST(System, DISABLED_ReplacedExecutableProbe) {
    const char* const self = std::getenv("TARNWICK_TEST_REPLACE_SELF");
    if (self == nullptr) {
        GTEST_SKIP() << "only run by ExecutablePathSurvivesAnUpdateOfTheFile";
    }
    const std::string replacement = std::string(self) + ".new";
    std::filesystem::copy_file(self, replacement);
    std::filesystem::rename(replacement, self);
    std::_Exit(NativeExecutablePath() == self ? 42 : 43);
}

TEST(System, ExecutablePathSurvivesAnUpdateOfTheFile) {
    testing::TempDir temp;
    const std::string copy = temp.str() + "/tarnwick";
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TARNWICK_TEST_REPLACE_SELF", copy.c_str(), 1);
        ::execl(copy.c_str(), copy.c_str(),
                "--gtest_filter=System.DISABLED_ReplacedExecutableProbe",
                "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42) << "43: the path carries the kernel's deleted mark";
}

}  // namespace
}  // namespace tarnwick::platform
