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

}  // namespace tarnwick
