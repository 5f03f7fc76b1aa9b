#pragma once
// Questions that may wait for a volume (a share that stopped answering, a drive that spins up)
// asked on a thread of their own, with a count of those still out, so that the end of the
// program can wait for them a bounded time before the statics they use go away.
#include <chrono>
#include <functional>

namespace tarnwick::winui {

// Runs `question` on a thread of its own; where no thread can be had, here and now.
void AskInBackground(std::function<void()> question);

// Waits, at most `limit`, until no question is out; false when one still is (the program must
// then end without the destructors of its statics).
bool WaitForBackgroundQuestions(std::chrono::milliseconds limit);

}  // namespace tarnwick::winui
