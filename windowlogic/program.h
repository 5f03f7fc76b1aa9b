#pragma once
// The main window's frame: its caption, which names the folder the program runs from, and the
// target that Copy and Run copies the running executable to.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::windowlogic {

inline constexpr const char* kMainCaption = "Tarnwick";
inline constexpr const char* kCopyPrompt =
    " Please choose a folder where to copy && run Tarnwick.exe from";
inline constexpr const char* kCopyFailedCaption = "Could not copy the application";
inline constexpr const char* kRunFailedText = "Could not run the application";

// A drive path split at its last backslash ("E:\Tools" and "Tarnwick.exe"). nullopt when it has
// 3 characters or fewer, does not fit 1,023 characters, or has an empty folder or file-name part.
struct ExecutableParts {
    std::string folder;
    std::string fileName;
};
std::optional<ExecutableParts> SplitExecutablePath(std::string_view path);
// The same for the running executable (nullopt also when its path cannot be had).
std::optional<ExecutableParts> SplitExecutablePath();

// "Tarnwick - Location E:\Tools" for a program at E:\Tools\Tarnwick.exe; "Tarnwick" where the
// path does not split.
std::string MainCaption(const std::optional<ExecutableParts>& parts);

// Where Copy and Run puts the executable: the chosen folder, a backslash, its own file name.
// nullopt when that does not fit the 2,047 characters a path may have.
std::optional<std::string> CopyTarget(std::string_view folder, const ExecutableParts& parts);

// The text of the box that says the copy failed.
std::string CopyFailedText(std::string_view target);

// Copy and Run through the toolkit's and the system's own services.
struct CopyAndRunServices {
    // The folder browser: 1 with the chosen folder written into `folder`.
    std::function<int(const std::string& prompt, std::string& folder)> chooseFolder;
    // Copies the executable over a file of that name (drive paths); false when it failed.
    std::function<bool(const std::string& from, const std::string& to)> copyFile;
    // Starts the copy; false when the system refused.
    std::function<bool(const std::string& target)> start;
    // A message box with the error icon.
    std::function<void(const std::string& caption, const std::string& text)> showError;
};
// The running executable copied into the chosen folder and started there: true when the copy
// runs, and this instance then closes. A cancelled browser or an executable path that does not
// split does nothing; a failed copy or start says so and changes nothing more.
bool CopyAndRun(const CopyAndRunServices& services);

}  // namespace tarnwick::windowlogic
