// Starting a program file in place or through its interpreter, and the started program finding
// its own file either way.

#include "platform/system/program_start.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/system/system.h"
#include "support/byte_reader.h"
#include "support/temp_dir.h"
#include "support/unprivileged.h"

namespace tarnwick::platform {
namespace {

namespace fs = std::filesystem;

// An executable's first bytes: the header, one PT_INTERP segment and its text.
std::string ImageWithInterpreter(const std::string& interpreterBytes) {
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_type = ET_DYN;
    header.e_phoff = sizeof header;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 1;
    Elf64_Phdr segment{};
    segment.p_type = PT_INTERP;
    segment.p_offset = sizeof header + sizeof segment;
    segment.p_filesz = interpreterBytes.size();
    std::string image(reinterpret_cast<const char*>(&header), sizeof header);
    image.append(reinterpret_cast<const char*>(&segment), sizeof segment);
    return image + interpreterBytes;
}

TEST(ProgramStart, InterpreterComesFromTheElfHeader) {
    using namespace std::string_literals;
    const struct {
        std::string image;
        std::optional<std::string> interpreter;
    } cases[] = {
        {ImageWithInterpreter("/lib64/ld-linux-x86-64.so.2\0"s), "/lib64/ld-linux-x86-64.so.2"},
        {ImageWithInterpreter("/lib64/ld.so"), std::nullopt},                 // no terminator
        {ImageWithInterpreter("ld.so\0"s), std::nullopt},                     // not absolute
        {ImageWithInterpreter("/lib/a\0b\0"s), std::nullopt},                 // NUL inside
        {ImageWithInterpreter("/lib/ld.so\0"s).substr(0, 70), std::nullopt},  // cut off
        {"#!/bin/sh\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseProgramInterpreter(testing::FromBytes(c.image)), c.interpreter)
            << ::testing::PrintToString(c.image.substr(0, 80));
    }
    std::string noSegments = ImageWithInterpreter("/x\0"s);
    reinterpret_cast<Elf64_Ehdr*>(noSegments.data())->e_phnum = 0xffff;
    EXPECT_EQ(ParseProgramInterpreter(testing::FromBytes(noSegments)), std::nullopt);
}

// Run by the test below in a copy of this program: answers with its exit status whether the
// executable-path query names the copy.
TEST(ProgramStart, DISABLED_ExecutablePathProbe) {
    const char* const expected = std::getenv("TARNWICK_TEST_EXPECTED_SELF");
    if (expected == nullptr) {
        GTEST_SKIP() << "only run by StartedEitherWayTheProgramFindsItsOwnFile";
    }
    std::_Exit(NativeExecutablePath() == expected ? 42 : 43);
}

int RunProbe(const ProgramStart& start, const std::string& self) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TARNWICK_TEST_EXPECTED_SELF", self.c_str(), 1);
        std::vector<std::string> args{start.program};
        args.insert(args.end(), start.arguments.begin(), start.arguments.end());
        args.push_back("--gtest_filter=ProgramStart.DISABLED_ExecutablePathProbe");
        args.push_back("--gtest_also_run_disabled_tests");
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(start.program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(ProgramStart, StartedEitherWayTheProgramFindsItsOwnFile) {
    const testing::TempDir dir;
    const std::string self = NativeExecutablePath().value_or("");
    const std::optional<std::string> interpreter = [&] {
        const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
        auto found = ParseProgramInterpreter(FileReader(fd));
        ::close(fd);
        return found;
    }();
    ASSERT_TRUE(interpreter) << self;

    const struct {
        const char* name;
        fs::perms mode;
        bool throughInterpreter;
    } cases[] = {
        {"in place", fs::perms::owner_all, false},
        {"no execute bit", fs::perms::owner_read | fs::perms::owner_write, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = (dir / (std::string("stick copy ") + c.name)).string();
        fs::copy_file(self, copy);
        fs::permissions(copy, c.mode);
        const std::optional<ProgramStart> start = HowToStart(copy);
        ASSERT_TRUE(start);
        if (c.throughInterpreter) {
            EXPECT_EQ(start->program, *interpreter);
            EXPECT_EQ(start->arguments, std::vector<std::string>{copy});
        } else {
            EXPECT_EQ(start->program, copy);
            EXPECT_TRUE(start->arguments.empty());
        }
        EXPECT_EQ(RunProbe(*start, copy), 42) << "43: the query named another file";
    }
    EXPECT_EQ(HowToStart((dir / "missing").string()), std::nullopt);
    EXPECT_EQ(HowToStart(dir.str()), std::nullopt);
    testing::WriteFile(dir / "script", "#!/bin/sh\n");
    EXPECT_EQ(HowToStart((dir / "script").string()), std::nullopt);  // no interpreter of its own
}

TEST(ProgramStart, RootNoexecMountCannotRunIt) {
    if (!testing::RunningAsRoot()) {
        GTEST_SKIP() << "needs root to mount a noexec volume";
    }
    const testing::TempDir dir;
    const std::string self = NativeExecutablePath().value_or("");
    const int result = testing::RunInChild([&] {
        const std::string volume = dir.str();
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", volume.c_str(), "tmpfs", MS_NOEXEC, "size=256m") != 0) {
            return 77;
        }
        const std::string copy = volume + "/tarnwick";
        fs::copy_file(self, copy);
        fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
        const bool refused = !HowToStart(copy);
        fs::permissions(copy, fs::perms::owner_all);
        return refused && !HowToStart(copy) ? 0 : 1;
    });
    if (result == 77) {
        GTEST_SKIP() << "cannot mount a tmpfs volume in a mount namespace";
    }
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace tarnwick::platform
