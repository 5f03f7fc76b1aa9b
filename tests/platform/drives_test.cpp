// Drive paths and native paths, through a fixture map.

#include <gtest/gtest.h>

#include "platform/volumes/drives.h"
#include "support/fixture_drive_map.h"

namespace tarnwick::platform {
namespace {

using testing::FixtureDrive;
using testing::ScopedDriveMap;

FixtureDrive Fixed(const std::string& root) {
    FixtureDrive drive;
    drive.root = root;
    return drive;
}

TEST(DrivePaths, NativePathsTakeTheLongestLetteredMountPoint) {
    ScopedDriveMap map;
    map->Set('C', Fixed("/"));
    map->Set('E', Fixed("/media/ann/STICK"));
    map->Set('F', Fixed("/media/ann/STICK2/"));

    EXPECT_EQ(ToDrivePath("/media/ann/STICK/Photos"), "E:\\Photos");
    EXPECT_EQ(ToDrivePath("/media/ann/STICK"), "E:\\");
    EXPECT_EQ(ToDrivePath("/media/ann/STICK2/a//b/./c/"), "F:\\a\\b\\c");
    EXPECT_EQ(ToDrivePath("/media/ann/STICKY"), "C:\\media\\ann\\STICKY");
    EXPECT_EQ(ToDrivePath("/home/ann"), "C:\\home\\ann");
    // ".." leaves a mount point by name, the way the path reads, and never climbs above "/".
    EXPECT_EQ(ToDrivePath("/media/ann/STICK/../Other"), "C:\\media\\ann\\Other");
    EXPECT_EQ(ToDrivePath("/media/ann/STICK/x/.."), "E:\\");
    EXPECT_EQ(ToDrivePath("/media/ann/Other/../STICK/Photos"), "E:\\Photos");
    EXPECT_EQ(ToDrivePath("/../../etc"), "C:\\etc");
    EXPECT_EQ(ToDrivePath("relative/path"), std::nullopt);
    EXPECT_EQ(ToDrivePath("/media/ann/STICK/back\\slash"), std::nullopt);
    EXPECT_EQ(ToDrivePath(std::string_view("/nul\0x", 6)), std::nullopt);

    EXPECT_EQ(ToNativePath("E:\\Photos\\2009"), "/media/ann/STICK/Photos/2009");
    EXPECT_EQ(ToNativePath("e:/Photos/../.."), "/media/ann/STICK");
    EXPECT_EQ(ToNativePath("F:\\"), "/media/ann/STICK2/");
    EXPECT_EQ(ToNativePath("G:\\x"), std::nullopt);
    EXPECT_EQ(ToNativePath("\\\\server\\share"), std::nullopt);
}

}  // namespace
}  // namespace tarnwick::platform
