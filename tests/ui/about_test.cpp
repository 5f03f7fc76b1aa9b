#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "platform/system.h"
#include "support/temp_dir.h"
#include "ui/Fabout.h"

namespace tarnwick::ui {
namespace {

class AboutTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetExecutablePathForTesting(std::nullopt); }
};

TEST_F(AboutTest, ShowsTheVersionRecordOfTheRunningExecutableOnEveryShow) {
    TfrmAbout about;
    platform::SetExecutablePathForTesting(VERSIONED_PROGRAM);
    about.show();
    EXPECT_EQ(about.lblVersion->text(), QString("1.0.2.31"));
    about.hide();

    // A program without the record, and a file that is no program at all, show the empty text.
    testing::TempDir dir;
    testing::WriteFile(dir / "tarnwick", "#!/bin/sh\n");
    platform::SetExecutablePathForTesting((dir / "tarnwick").string());
    about.show();
    EXPECT_EQ(about.lblVersion->text(), QString());
    about.hide();

    platform::SetExecutablePathForTesting("");
    about.show();
    EXPECT_EQ(about.lblVersion->text(), QString());
}

TEST_F(AboutTest, FixedTextsAndResults) {
    TfrmAbout about;
    EXPECT_EQ(about.windowTitle(), QString("About"));
    EXPECT_EQ(about.ProductName->text(), QString("Tarnwick"));
    EXPECT_EQ(about.Label4->text(), QString("2010"));
    EXPECT_EQ(about.Label3->text(), QString("Version"));
    EXPECT_EQ(about.GroupBox1->title(), QString("Bank account Information"));
    EXPECT_EQ(about.size(), QSize(329, 373));

    about.show();
    about.bbtnOk->click();
    EXPECT_EQ(about.result(), 1);
    about.show();
    // No cancel button: Escape closes nothing; the title bar's close button gives 2.
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_TRUE(about.isVisible());
    about.close();
    EXPECT_EQ(about.result(), 2);
}

}  // namespace
}  // namespace tarnwick::ui
