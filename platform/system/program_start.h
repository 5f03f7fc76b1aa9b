#pragma once
// How a program file is started: in place, or through the program interpreter its ELF header
// names where the file system gives it no execute bit (a FAT stick mounted showexec, as desktops
// mount them).

#include <optional>
#include <string>
#include <vector>

#include "platform/system/version.h"

namespace tarnwick::platform {

struct ProgramStart {
    std::string program;  // native path of what is executed
    std::vector<std::string> arguments;
};

// The program interpreter (PT_INTERP, e.g. "/lib64/ld-linux-x86-64.so.2") of a 64-bit
// little-endian ELF executable read through `read`. nullopt for any other file, one without an
// interpreter (statically linked), or an interpreter that is not an absolute path.
std::optional<std::string> ParseProgramInterpreter(const ReadAt& read);

// How to start the program at a native path: the file itself where this user may execute it;
// its interpreter with the file's path where it may only be read. nullopt where it cannot run at
// all: a noexec mount (the interpreter could not map it either), a file that cannot be read, or
// one that names no usable interpreter.
std::optional<ProgramStart> HowToStart(const std::string& nativePath);

}  // namespace tarnwick::platform
