// GUI tests build the real windows on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "ui/Application.h"
#include "ui/Background.h"
#include "ui/Unit1.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tarnwick::ui::Application app(argc, argv);
    // A close waits for a slow worker rather than ending the test program.
    tarnwick::ui::SetStuckWorkerEndForTesting([] {});
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Drive details are asked on threads of their own; none may outlive the statics it uses.
    if (!tarnwick::ui::WaitForBackgroundQuestions(std::chrono::seconds(10))) {
        std::_Exit(result);
    }
    return result;
}
