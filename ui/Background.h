#pragma once
// Questions that may wait for a volume or a service (a share that stopped answering, a FUSE driver
// that was stopped, libblkid, udisks2) asked off the user-interface thread. Each question has a
// thread of its own, so one that the kernel holds for good holds nothing else; its answer reaches
// the owner on the user-interface thread, or nothing at all once the owner is gone.

#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnwick::ui {

namespace detail {
// The questions still being asked, in the whole process. Never destroyed: a question that outlives
// main (its volume stopped answering) must still find it when it comes back.
struct OutstandingQuestions {
    std::mutex mutex;
    std::condition_variable done;
    int count = 0;

    static OutstandingQuestions& Get() {
        static OutstandingQuestions* const outstanding = new OutstandingQuestions;
        return *outstanding;
    }
    // Taken by the asking thread while it posts an answer and by the user-interface thread before
    // it reads one. Qt's event queue already orders the two, but through locks of its own that the
    // thread checker cannot see; this one makes the hand-over visible, at the cost of an
    // uncontended lock per answer.
    static std::mutex& HandOver() {
        static std::mutex* const hand_over = new std::mutex;
        return *hand_over;
    }
    void Begin() {
        std::lock_guard lock(mutex);
        ++count;
    }
    void End() {
        std::lock_guard lock(mutex);
        if (--count == 0) {
            done.notify_all();
        }
    }
};
}  // namespace detail

// Waits, at most `limit`, until no question is being asked; false when one still is. The end of
// the program asks this before it runs the destructors of the statics that questions use: where
// a question still waits for a volume, the program must end without them (std::_Exit).
inline bool WaitForBackgroundQuestions(std::chrono::milliseconds limit) {
    auto& outstanding = detail::OutstandingQuestions::Get();
    std::unique_lock lock(outstanding.mutex);
    return outstanding.done.wait_for(lock, limit, [&] { return outstanding.count == 0; });
}

class BackgroundQuestions {
public:
    explicit BackgroundQuestions(QObject* owner) : state_(std::make_shared<State>(owner)) {}
    ~BackgroundQuestions() {
        std::lock_guard lock(state_->mutex);
        state_->owner = nullptr;
    }
    BackgroundQuestions(const BackgroundQuestions&) = delete;
    BackgroundQuestions& operator=(const BackgroundQuestions&) = delete;

    // Runs `question` on a thread of its own and hands its answer to `answer` on the owner's
    // thread. Where no thread can be started, the question is asked here and now.
    template <typename Answer>
    void Ask(std::function<Answer()> question, std::function<void(Answer)> answer) {
        auto ask = [state = state_, question = std::move(question),
                    answer = std::move(answer)]() mutable {
            Answer answered = question();
            {
                std::lock_guard hand_over(detail::OutstandingQuestions::HandOver());
                std::lock_guard lock(state->mutex);
                if (state->owner != nullptr) {
                    QMetaObject::invokeMethod(
                        state->owner,
                        [answer = std::move(answer), answered = std::move(answered)]() mutable {
                            { std::lock_guard seen(detail::OutstandingQuestions::HandOver()); }
                            answer(std::move(answered));
                        },
                        Qt::QueuedConnection);
                }
            }
            detail::OutstandingQuestions::Get().End();
        };
        detail::OutstandingQuestions::Get().Begin();
        try {
            std::thread(ask).detach();
        } catch (const std::system_error&) {
            ask();
        }
    }

private:
    struct State {
        explicit State(QObject* o) : owner(o) {}
        std::mutex mutex;  // guards owner
        QObject* owner;
    };
    std::shared_ptr<State> state_;
};

}  // namespace tarnwick::ui
