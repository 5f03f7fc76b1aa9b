#include "engine/copy_pass.h"

#include <exception>

#include "engine/folders.h"
#include "engine/pass_pool.h"
#include "engine/queries.h"
#include "platform/files/files.h"

namespace tarnwick {

void SharedText::Set(std::optional<std::string_view> text) {
    std::lock_guard lock(mutex_);
    // Assigning into the existing text reuses its storage: no allocation once it is large enough.
    if (text) {
        text_.assign(*text);
    } else {
        text_.clear();
    }
    given_ = text.has_value();
}

std::optional<std::string> SharedText::Get() const {
    std::lock_guard lock(mutex_);
    if (!given_) {
        return std::nullopt;
    }
    return text_;
}

void SetCopyPassWorkers(unsigned workers) {
    pass::SetWorkerCount(workers);
}

std::int32_t SyncFolders(std::string_view source, std::string_view destination, bool subfolders,
                         CopyProgress& progress, const PassOptions& options) {
    if (!FolderExists(source)) {
        return -1;
    }
    if (!FolderExists(destination)) {
        return -2;
    }
    return CopyFolderPass(source, destination, subfolders, &progress, options);
}

std::int32_t CopyFolderPass(std::string_view source, std::string_view destination, bool subfolders,
                            CopyProgress* progress, const PassOptions& options) {
    pass::Pass pass(subfolders, progress, options);
    std::int32_t result = 0;
    try {
        result = pass.Run(source, destination);
    } catch (const std::exception&) {
        try {
            pass.Counted(pass.batch_.Finish());
        } catch (const std::exception&) {
        }
        result = pass.copied_.load();
    }
    if (result >= 0 && options.Failures != nullptr) {
        pass.Report(result, *options.Failures);
    }
    return result;
}

bool CopyFileKeepTime(std::string_view source, std::string_view destination, bool failIfExists,
                      platform::FileTime lastWrite) {
    if (source.size() > kMaxPathLength || destination.size() > kMaxPathLength) {
        return false;
    }
    return platform::CopyFileByPath(source, destination, failIfExists, lastWrite);
}

bool IsNewer(platform::FileTime source, platform::FileTime destination) {
    platform::FileTime limit = destination;
    AddMilliseconds(limit, 2000);
    return source > limit;
}

bool IsNewerIn(const platform::Directory& sourceFolder,
               const platform::Directory& destinationFolder, platform::FileTime source,
               platform::FileTime destination) {
    const auto held = [&](platform::FileTime time) {
        return sourceFolder.HeldTime(destinationFolder.HeldTime(time));
    };
    source = held(source);
    destination = held(destination);
    if (!IsNewer(source, destination)) {
        return false;
    }
    if (sourceFolder.KeepsLocalTimes() || destinationFolder.KeepsLocalTimes()) {
        constexpr platform::FileTime kHour = platform::FileTime{3600} * 10'000'000;
        constexpr platform::FileTime kTolerance = platform::FileTime{2} * 10'000'000;
        const platform::FileTime difference = source - destination;
        if (difference >= kHour - kTolerance && difference <= kHour + kTolerance) {
            return false;
        }
    }
    return true;
}

void AddMilliseconds(platform::FileTime& time, std::uint16_t milliseconds) {
    const auto low = static_cast<std::uint32_t>(time);
    auto high = static_cast<std::uint32_t>(time >> 32);
    const auto newLow = static_cast<std::uint32_t>(low + std::uint32_t{milliseconds} * 10000U);
    if (newLow < low) {
        ++high;
    }
    time = (static_cast<platform::FileTime>(high) << 32) | newLow;
}

}  // namespace tarnwick
