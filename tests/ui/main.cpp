// GUI tests build the real windows on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/Application.h"
#include "ui/Unit1.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tarnwick::ui::Application app(argc, argv);
    // A close waits for a slow worker rather than ending the test program.
    tarnwick::ui::SetStuckWorkerEndForTesting([] {});
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
