#include "platform/files/copy_steps.h"

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace tarnwick::platform {

namespace {

std::mutex gHookMutex;
std::function<void(CopyStep, const std::string&)> gCopyStepHook;
// Read without the lock on every step, so that a pass without a hook pays one load.
std::atomic<bool> gHooked{false};

}  // namespace

void SetCopyStepHookForTests(std::function<void(CopyStep, const std::string&)> hook) {
    const std::lock_guard lock(gHookMutex);
    gHooked.store(static_cast<bool>(hook), std::memory_order_release);
    gCopyStepHook = std::move(hook);
}

void CopyStepReached(CopyStep step, std::string_view name) {
    if (!gHooked.load(std::memory_order_acquire)) {
        return;
    }
    try {
        std::function<void(CopyStep, const std::string&)> hook;
        {
            const std::lock_guard lock(gHookMutex);
            hook = gCopyStepHook;
        }
        if (hook) {
            hook(step, std::string(name));
        }
    } catch (const std::exception&) {
    }
}

}  // namespace tarnwick::platform
