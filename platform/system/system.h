#pragma once
// The computer and the running program.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Raises the soft limit of open files to the hard limit, for the whole process: a pass keeps a
// descriptor for each folder that has copies waiting in it. Called once at start, before threads.
void RaiseOpenFileLimit();

// The soft limit of open files now (a large number where there is none).
std::uint64_t OpenFileLimit();

// The computer's name as the original platform gives it: the host name up to its first dot, in
// upper case, at most 15 characters. nullopt when it cannot be had.
std::optional<std::string> ComputerName();

// Native path of the running executable. nullopt when it cannot be had. A program started
// through its interpreter ("/lib64/ld-linux-x86-64.so.2 /media/ann/STICK/tarnwick") is the file
// the interpreter loaded, not the interpreter that /proc/self/exe then names.
std::optional<std::string> NativeExecutablePath();

// The file mapped at an address, from the text of /proc/<pid>/maps: its path as the kernel
// writes it (a replaced file ends in " (deleted)") and its inode. nullopt where nothing is mapped
// there or what is mapped is no file.
struct MappedFile {
    std::string path;
    std::uint64_t inode = 0;
};
std::optional<MappedFile> MappedFileAt(std::string_view maps, std::uintptr_t address);

// Drive path of the running executable ("C:\opt\tarnwick\tarnwick"). nullopt when it cannot be
// had or cannot be written as a drive path.
std::optional<std::string> ExecutablePath();

// The home folder of the user running the program: $HOME where it is an absolute path, else the
// password database's. nullopt when neither gives an absolute path.
std::optional<std::string> HomeFolder();

// This user's folder for what the program keeps from one run to the next (the letter memory, the
// lock of the unattended runs): $XDG_STATE_HOME/tarnwick where that is an absolute path, else
// <home>/.local/state/tarnwick. It is there whether or not the user is logged in. The folder may
// not exist yet; nullopt when it cannot be had.
std::optional<std::string> UserStateFolder();

// A folder of this user's own for files the program makes for the while it runs (the help pages
// it opens): <runtime folder>/tarnwick where the login session has one (/run/user/<uid>, private
// to the user), else <home>/.cache/tarnwick. The folder may not exist yet. nullopt when neither
// can be had.
std::optional<std::string> UserRuntimeFolder();

// Test seams: replace the answers above. nullopt restores the real answer; an empty text makes
// the query fail. Only tests call these.
// The current local date and time as the user's locale writes them: the short date, a blank
// and the long time ("%x %X").
std::string LocalDateTimeText();

void SetComputerNameForTesting(std::optional<std::string> name);
void SetExecutablePathForTesting(std::optional<std::string> nativePath);
void SetHomeFolderForTesting(std::optional<std::string> nativePath);
void SetRuntimeFolderForTesting(std::optional<std::string> nativePath);

}  // namespace tarnwick::platform
