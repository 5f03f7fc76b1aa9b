#include <gtest/gtest.h>

#include <algorithm>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/system/system.h"
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
    EXPECT_EQ(about.ProductName->font().pixelSize(), 19);
    EXPECT_FALSE(about.ProductName->font().bold());

    // The designed geometry; an empty size is the text's own. A word-wrapping label keeps its
    // designed height unless its text needs more lines at the font in use; it widens first, up to
    // `room`. Every label's text fits within `room` (up to the next control on its line) and its
    // designed height (a line of 16 where none is designed) at the font in use.
    const struct {
        const QWidget* widget;
        QRect designed;
        int room;
    } places[] = {
        {about.Label4, {80, 40, 0, 0}, 28},        {about.Label3, {108, 40, 0, 0}, 37},
        {about.lblVersion, {145, 40, 0, 0}, 155},  {about.Label9, {24, 152, 229, 26}, 257},
        {about.Label10, {158, 2, 137, 14}, 137},   {about.Label5, {24, 8, 253, 26}, 257},
        {about.GroupBox1, {16, 48, 273, 73}, 273}, {about.Label6, {8, 24, 0, 0}, 72},
        {about.Label7, {8, 51, 0, 0}, 72},         {about.Edit1, {80, 24, 185, 21}, 185},
        {about.Edit2, {80, 48, 185, 21}, 185},
    };
    for (const auto& [widget, designed, room] : places) {
        SCOPED_TRACE(widget->objectName().toStdString());
        const QRect actual = widget->geometry();
        EXPECT_EQ(actual.topLeft(), designed.topLeft());
        const auto* label = qobject_cast<const QLabel*>(widget);
        if (label) {
            const QRect box(0, 0, room, designed.height() ? designed.height() : 16);
            const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(0, 0, actual.width(), box.height()), flags, label->text());
            EXPECT_TRUE(box.contains(needed)) << needed.width() << "x" << needed.height();
        }
        if (designed.width() == 0) {
            continue;
        }
        EXPECT_LE(actual.width(), room);
        if (label && label->wordWrap()) {
            EXPECT_GE(actual.width(), designed.width());
            EXPECT_EQ(actual.height(), designed.height());
        } else {
            EXPECT_EQ(actual.size(), designed.size());
        }
    }

    about.show();
    about.bbtnOk->click();
    EXPECT_EQ(about.result(), 1);
    about.show();
    // The title bar's close button gives 2.
    about.close();
    EXPECT_EQ(about.result(), 2);
}

}  // namespace
}  // namespace tarnwick::ui
