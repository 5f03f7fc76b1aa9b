#pragma once
// The program's command line: --synchronize, --watch, --help, --version.

namespace tarnwick::app {

// Everything after the program's name; the exit status.
int RunCommandLine(int& argc, char** argv);

}  // namespace tarnwick::app
