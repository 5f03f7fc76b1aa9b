#pragma once
// /proc/self/mountinfo, opened once and read again only when the kernel reports that the mounts
// of the namespace changed (poll() on the open table answers POLLPRI | POLLERR then).

#include <string>

#include "platform/unique_fd.h"

namespace tarnwick::platform {

class MountTableFile {
public:
    // True when the table may differ from what the last successful Read gave (always before the
    // first one, and after a failed one). Costs one poll().
    bool Changed();
    // The whole table; false when it cannot be opened or read.
    bool Read(std::string& text);
    // Makes the next Changed() answer true.
    void Forget() { upToDate_ = false; }

private:
    UniqueFd fd_;
    bool upToDate_ = false;
};

}  // namespace tarnwick::platform
