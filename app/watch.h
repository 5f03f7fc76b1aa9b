#pragma once
// `tarnwick --watch`: the groups with a folder on a volume run as soon as it is mounted, each run
// ending in a notification (over the session bus, so with Qt).

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace tarnwick::app {

// The drives present, by their root folder, with the serial of each volume that can be read.
using PresentDrives = std::map<std::string, std::optional<std::uint32_t>>;

// A mounted drive as the watch last saw it.
struct SeenDrive {
    std::optional<std::uint32_t> serial;  // nullopt while its volume cannot be read
    // Mounted after the watch began and not yet taken for a run (its volume could not be read).
    bool awaited = false;
};

// Takes the drives present now into `seen`, and gives the serials of the volumes that appeared
// since: on a drive that is new, or whose root now holds another volume. A drive that was there
// before and only now can be read did not appear: it is taken as it is (a share that did not
// answer for a while). `awaiting` tells whether a new drive still cannot be read.
std::set<std::uint32_t> TakeAppeared(std::map<std::string, SeenDrive>& seen,
                                     const PresentDrives& present, bool& awaiting);

// tarnwick --watch: until SIGINT or SIGTERM (which let a run in progress end first; a second
// one cancels it). Each run writes its exit status (see ExitStatus) to standard error and shows
// a notification. The exit status: 0 after a stop, 128 + the signal after a cancelled run.
int Watch(int& argc, char** argv, std::FILE* out);

}  // namespace tarnwick::app
