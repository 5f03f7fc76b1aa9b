#include "app/unattended.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "app/notification.h"
#include "platform/system/system.h"
#include "platform/system/unattended.h"
#include "platform/system/version.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"

namespace tarnwick::app {

namespace {

constexpr const char* kLockName = "/unattended.lock";

// How often, and how far apart, the volumes are asked again after a change of the mount table
// while a new one could not be read yet (a volume still being set up).
constexpr int kUnreadableRetries = 10;
constexpr std::chrono::milliseconds kUnreadableRetryTime{1000};

constexpr std::string_view kUsage =
    "Usage:\n"
    "  tarnwick                 open the window\n"
    "  tarnwick --synchronize   synchronise every folder group of this computer, without a\n"
    "                           window, writing the run log to standard output\n"
    "  tarnwick --watch         without a window, synchronise the groups that have a folder on\n"
    "                           a volume as soon as that volume is mounted\n"
    "  tarnwick --help          show this text\n"
    "  tarnwick --version       show the version\n"
    "\n"
    "Exit status of --synchronize: 0 when the run wrote no error line, 1 when it did;\n"
    "2 for a command line that is not understood.\n";

void Write(std::FILE* out, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

std::string CountText(std::int64_t count) {
    return std::to_string(count) + (count > 1 ? " files" : " file") + " copied.";
}

// The drives present now by their root folder, each with the serial of its volume where it can
// be read.
PresentDrives PresentVolumes() {
    PresentDrives volumes;
    for (const platform::Drive& drive : platform::CurrentDriveMap().Drives()) {
        const std::optional<platform::Volume> volume = platform::VolumeInformation(drive.letter);
        volumes[drive.root] =
            volume && volume->serial != 0 ? std::optional(volume->serial) : std::nullopt;
    }
    return volumes;
}

int PrintVersion() {
    const std::optional<std::string> executable = platform::NativeExecutablePath();
    const std::optional<platform::FileVersion> version =
        executable ? platform::ReadFileVersion(*executable) : std::nullopt;
    if (!version) {
        Write(stderr, "tarnwick: this executable carries no version record\n");
        return kExitErrors;
    }
    Write(stdout, "Tarnwick " + std::to_string(version->major) + "." +
                      std::to_string(version->minor) + "." + std::to_string(version->release) +
                      "." + std::to_string(version->build) + "\n");
    return kExitDone;
}

}  // namespace

// --- The lines of a run ------------------------------------------------------------------------

void StreamRunSink::Line(std::string_view text) {
    std::string line(text);
    if (nextLineIsError_) {
        errorLines_.push_back(line);
        nextLineIsError_ = false;
    }
    line += '\n';
    Write(out_, line);
}

void StreamRunSink::PassEnded(std::string_view /*from*/, std::string_view to, std::int32_t result) {
    if (result <= 0) {
        return;
    }
    const std::string destination(to);
    const auto [place, added] = copied_.try_emplace(destination, 0);
    if (added) {
        destinations_.push_back(destination);
    }
    place->second += result;
}

std::string StreamRunSink::Summary() const {
    if (!errorLines_.empty()) {
        return "Error during synchronization";
    }
    return "Total files copied : " + std::to_string(total_) + ".";
}

std::string StreamRunSink::Body() const {
    std::string body;
    for (const std::string& destination : destinations_) {
        body += "\"" + destination + "\": " + CountText(copied_.at(destination)) + "\n";
    }
    for (const std::string& line : errorLines_) {
        body += line + "\n";
    }
    if (!errorLines_.empty()) {
        body += "Total files copied : " + std::to_string(total_) + ".";
    } else if (!body.empty()) {
        body.pop_back();
    }
    return body;
}

// --- The watch's view of the drives ------------------------------------------------------------

std::set<std::uint32_t> TakeAppeared(std::map<std::string, SeenDrive>& seen,
                                     const PresentDrives& present, bool& awaiting) {
    std::map<std::string, SeenDrive> now;
    std::set<std::uint32_t> appeared;
    awaiting = false;
    for (const auto& [root, serial] : present) {
        const auto before = seen.find(root);
        SeenDrive drive = before != seen.end() ? before->second : SeenDrive{std::nullopt, true};
        if (serial) {
            if (drive.awaited || (drive.serial && *drive.serial != *serial)) {
                appeared.insert(*serial);
            }
            drive = {serial, false};
        } else {
            awaiting = awaiting || drive.awaited;
        }
        now.emplace(root, drive);
    }
    seen = std::move(now);
    return appeared;
}

// --- One run -----------------------------------------------------------------------------------

RunOutcome RunUnattended(platform::StopSignals& stop, RunSink& sink, const std::set<int>* only,
                         int signalsToCancel, bool& stopRequested) {
    CopyProgress progress;
    progress.Continue = true;
    std::atomic<int> stopSignals{0};
    const auto signalCame = [&] {
        if (++stopSignals >= signalsToCancel) {
            progress.Continue = false;
        }
    };

    // Not to overlap with another unattended run; a stop that cancels ends the wait, and the
    // run then writes only its frame.
    platform::FileLock lock;
    const std::optional<std::string> folder = platform::UserRuntimeFolder();
    auto taken = platform::FileLock::Result::Unavailable;
    if (folder) {
        while ((taken = lock.Take(*folder + kLockName, stop)) ==
               platform::FileLock::Result::Stopped) {
            signalCame();
            if (!progress.Continue) {
                break;
            }
        }
    }
    if (taken == platform::FileLock::Result::Unavailable) {
        Write(stderr, "tarnwick: no lock keeps this run apart from other unattended runs: " +
                          (folder ? *folder + kLockName : std::string("no runtime folder")) +
                          " cannot be locked\n");
    }

    std::thread listener;
    try {
        listener = std::thread([&] {
            while (stop.Wait() == platform::StopSignals::Event::Signal) {
                signalCame();
            }
        });
    } catch (const std::system_error&) {
        // Without the listener the stop signals wait until the run has ended.
    }
    const RunOutcome outcome =
        SyncRun(progress, sink).RunSync(ReadFolderEntry, only, FolderOnItsVolume);
    if (listener.joinable()) {
        stop.Wake();
        listener.join();
    }
    stopRequested = stopSignals > 0;
    return outcome;
}

int Synchronize(std::FILE* out) {
    platform::StopSignals stop;
    StreamRunSink sink(out);
    bool stopRequested = false;
    return RunUnattended(stop, sink, nullptr, 1, stopRequested).Errors ? kExitErrors : kExitDone;
}

// --- The watch ---------------------------------------------------------------------------------

int Watch(int& argc, char** argv, std::FILE* out) {
    platform::StopSignals stop;
    // The session bus of the notifications wants an application object (no display is needed).
    const QCoreApplication application(argc, argv);
    platform::MountWatch watch;
    if (!watch.Watching()) {
        Write(stderr, "tarnwick: the mount table cannot be watched\n");
        return kExitErrors;
    }

    // The volumes present now cause no run.
    std::map<std::string, SeenDrive> seen;
    for (const auto& [root, serial] : PresentVolumes()) {
        seen.emplace(root, SeenDrive{serial, false});
    }
    // Volumes mounted from here on are noticed (for the journal, and for whoever waits for it).
    Write(stderr, "tarnwick: watching the mounted volumes\n");
    int retries = 0;
    for (;;) {
        const std::optional<std::chrono::milliseconds> timeout =
            retries > 0 ? std::optional(kUnreadableRetryTime) : std::nullopt;
        const platform::MountWatch::Event event = watch.Wait(stop, timeout);
        if (event == platform::MountWatch::Event::Stop) {
            return kExitDone;
        }
        if (event == platform::MountWatch::Event::MountsChanged) {
            retries = kUnreadableRetries;
        } else if (retries > 0) {
            --retries;
        }
        bool awaiting = false;
        const std::set<std::uint32_t> appeared = TakeAppeared(seen, PresentVolumes(), awaiting);
        if (!awaiting) {
            retries = 0;
        }
        const std::set<int> groups = GroupsOnVolumes(appeared);
        if (groups.empty()) {
            continue;
        }
        StreamRunSink sink(out);
        bool stopRequested = false;
        RunUnattended(stop, sink, &groups, 2, stopRequested);
        ShowNotification(sink.Summary(), sink.Body());
        if (stopRequested) {
            return kExitDone;
        }
    }
}

// --- The command line --------------------------------------------------------------------------

int RunCommandLine(int& argc, char** argv) {
    const std::string_view option = argc == 2 ? std::string_view(argv[1]) : std::string_view();
    if (option == "--help") {
        Write(stdout, kUsage);
        return kExitDone;
    }
    if (option == "--version") {
        return PrintVersion();
    }
    if (option == "--synchronize" || option == "--watch") {
        // The date and time of the log lines as the user's locale writes them, as in the window.
        std::setlocale(LC_ALL, "");
        return option == "--watch" ? Watch(argc, argv, stdout) : Synchronize(stdout);
    }
    std::string message = "tarnwick: ";
    for (int i = 1; i < argc; ++i) {
        message += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    message += ": not understood\n\n";
    Write(stderr, message + std::string(kUsage));
    return kExitUsage;
}

}  // namespace tarnwick::app
