#include "winui/Background.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnwick::winui {

namespace {

struct Outstanding {
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;
};

// Never destroyed: a question that outlives main must still find it when it comes back.
Outstanding& Questions() {
    static Outstanding* const outstanding = new Outstanding;
    return *outstanding;
}

}  // namespace

void AskInBackground(std::function<void()> question) {
    Outstanding& outstanding = Questions();
    {
        std::lock_guard lock(outstanding.mutex);
        ++outstanding.count;
    }
    auto ask = [question = std::move(question), &outstanding] {
        question();
        std::lock_guard lock(outstanding.mutex);
        if (--outstanding.count == 0) {
            outstanding.done.notify_all();
        }
    };
    try {
        std::thread(ask).detach();
    } catch (const std::system_error&) {
        ask();
    }
}

bool WaitForBackgroundQuestions(std::chrono::milliseconds limit) {
    Outstanding& outstanding = Questions();
    std::unique_lock lock(outstanding.mutex);
    return outstanding.done.wait_for(lock, limit, [&] { return outstanding.count == 0; });
}

}  // namespace tarnwick::winui
