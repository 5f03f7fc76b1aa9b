#include "platform/system.h"

#include <gtest/gtest.h>

#include "support/fixture_drive_map.h"
#include "support/temp_dir.h"

namespace tarnwick::platform {
namespace {

TEST(System, ComputerNameIsTheShortHostNameInUpperCase) {
    const auto name = ComputerName();
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->empty());
    EXPECT_LE(name->size(), 15U);
    EXPECT_EQ(name->find('.'), std::string::npos);
    for (const char c : *name) {
        EXPECT_FALSE(c >= 'a' && c <= 'z') << *name;
    }

    SetComputerNameForTesting("OTHERPC");
    EXPECT_EQ(ComputerName(), "OTHERPC");
    SetComputerNameForTesting("");
    EXPECT_EQ(ComputerName(), std::nullopt);
    SetComputerNameForTesting(std::nullopt);
    EXPECT_EQ(ComputerName(), name);
}

TEST(System, ExecutablePathIsADrivePath) {
    const auto native = NativeExecutablePath();
    ASSERT_TRUE(native);
    EXPECT_NE(native->find("/platform_tests"), std::string::npos) << *native;

    testing::TempDir temp;
    testing::ScopedDriveMap map;
    testing::FixtureDrive c;
    c.root = "/";
    map->Set('C', c);
    testing::FixtureDrive stick;
    stick.root = temp.str();
    map->Set('E', stick);

    SetExecutablePathForTesting(temp.str() + "/tools/tarnwick");
    EXPECT_EQ(NativeExecutablePath(), temp.str() + "/tools/tarnwick");
    EXPECT_EQ(ExecutablePath(), "E:\\tools\\tarnwick");
    SetExecutablePathForTesting("/opt/" + std::string(1100, 'x'));
    EXPECT_EQ(ExecutablePath(), std::nullopt);  // longer than the 1,024-byte exchange buffer
    SetExecutablePathForTesting("/opt/back\\slash/tarnwick");
    EXPECT_EQ(ExecutablePath(), std::nullopt);
    SetExecutablePathForTesting("");
    EXPECT_EQ(NativeExecutablePath(), std::nullopt);
    EXPECT_EQ(ExecutablePath(), std::nullopt);
    SetExecutablePathForTesting(std::nullopt);
    EXPECT_EQ(NativeExecutablePath(), native);
}

}  // namespace
}  // namespace tarnwick::platform
