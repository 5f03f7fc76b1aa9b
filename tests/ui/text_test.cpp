#include <gtest/gtest.h>

#include "ui/Text.h"

namespace tarnwick::ui {
namespace {

TEST(TextTest, PathsSurviveTheRoundTripThroughQtByteForByte) {
    const std::string samples[] = {
        "C:\\home\\ann\\Photos",
        "E:\\Grüße\\日本語\\😀",
        std::string("E:\\bad\xff\xfe name\x80"),
        std::string("E:\\overlong\xc0\xaf and surrogate \xed\xa0\x80"),
        std::string("truncated \xe2\x82"),
    };
    for (const std::string& sample : samples) {
        EXPECT_EQ(FromQt(ToQt(sample)), sample);
    }
    EXPECT_EQ(ToQt("E:\\Grüße"), QString::fromUtf8("E:\\Grüße"));
}

TEST(TextTest, DoubleAmpersandShowsAsOne) {
    EXPECT_EQ(PlainCaption(" Files && folders"), QString(" Files & folders"));
}

}  // namespace
}  // namespace tarnwick::ui
