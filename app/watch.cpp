#include "app/watch.h"

#include <QCoreApplication>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "app/notification.h"
#include "app/unattended.h"
#include "platform/system/mount_watch.h"
#include "platform/system/stop_signals.h"
#include "platform/volumes/drives.h"
#include "settings/folder_groups.h"

namespace tarnwick::app {

namespace {

// How often, and how far apart, the volumes are asked again after a change of the mount table
// while a new one could not be read yet (a volume still being set up).
constexpr int kUnreadableRetries = 10;
constexpr std::chrono::milliseconds kUnreadableRetryTime{1000};

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

}  // namespace

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
        const UnattendedRun run = RunUnattended(stop, sink, &groups, 2);
        const int status = ExitStatus(run);
        Write(stderr, "tarnwick: the run ended with status " + std::to_string(status) + ": " +
                          sink.Summary(run.Outcome) + "\n");
        ShowNotification(sink.Summary(run.Outcome), sink.Body(run.Outcome));
        if (run.Stranded) {
            EndStranded(status);
        }
        // A stop signal lets the run end and then ends the watch; a second one cancels the run.
        if (run.Signal > 0) {
            return run.Outcome.Cancelled ? status : kExitDone;
        }
    }
}

}  // namespace tarnwick::app
