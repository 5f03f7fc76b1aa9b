// The windows at a large desktop font on a dark palette: no text cut, fixed colours and pictures
// still readable. With TARNWICK_SCREENSHOTS set to a folder, the windows are saved there as
// pictures to be looked at.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "main_window_test_support.h"
#include "ui/Fabout.h"
#include "ui/Flog.h"
#include "ui/Look.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

QPalette DarkPalette() {
    QPalette dark(QColor(53, 53, 53), QColor(45, 45, 45));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    return dark;
}

class LookTest : public ::testing::Test, public testing::MainWindowFixture {
protected:
    LookTest() : font_(QApplication::font()), palette_(QApplication::palette()) {
        QFont large(QStringLiteral("DejaVu Sans"));
        large.setPointSize(14);
        QApplication::setFont(large);
        QApplication::setPalette(DarkPalette());
        MakeFolder("Data");
    }
    ~LookTest() override {
        QApplication::setFont(font_);
        QApplication::setPalette(palette_);
    }

private:
    QFont font_;
    QPalette palette_;
};

TEST_F(LookTest, AtA14PointFontOnADarkPaletteNoTextIsCutAndEverythingStaysReadable) {
    // Built after the font and palette are set, as at start-up on such a desktop.
    TfrmFolder folder;
    TTfrmFolderBrowse browse;
    TfrmAbout about;
    TForm2 log;
    TForm1 form;
    frmFolder = &folder;
    form.show();
    plan = {"C:\\Data"};
    form.bbtnNew1->click();
    plan = {"E:\\"};
    form.bbtnNew2->click();
    ASSERT_EQ(form.ListBox2->count(), 1);
    folder.Edit1->setText("C:\\Data");
    folder.Timer1Timer();
    ASSERT_TRUE(testing::WaitForDiskInfo(folder));
    folder.RadioGroup1Merge->setChecked(true);
    browse.Panel1->setText(" Please choose a folder where to copy & run Tarnwick.exe from");
    log.Memo1->setPlainText("Synchronising from \"C:\\Data\" to \"E:\\\"");

    // The drive details are read off the user-interface thread: both lines are measured once
    // they are filled in, and each label once the layout has taken its text in.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !form.lblType1->text().isEmpty() && !form.lblType2->text().isEmpty();
    }));
    for (QWidget* window : std::initializer_list<QWidget*>{&form, &folder, &browse, &about, &log}) {
        window->show();
        QTest::qWait(0);
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().trimmed().isEmpty()) {
                continue;
            }
            QRect room;
            QRect needed;
            const auto fits = [&] {
                room = label->contentsRect();
                needed = label->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000),
                                                           label->wordWrap() ? Qt::TextWordWrap : 0,
                                                           label->text());
                return needed.width() <= room.width() && needed.height() <= room.height();
            };
            EXPECT_TRUE(fits() || QTest::qWaitFor(fits, 1000))
                << window->objectName().toStdString() << "/" << label->objectName().toStdString()
                << " needs " << needed.width() << "x" << needed.height() << ", has " << room.width()
                << "x" << room.height();
        }
        for (const QAbstractButton* box : window->findChildren<QAbstractButton*>()) {
            if (box->isVisible() &&
                (qobject_cast<const QCheckBox*>(box) || qobject_cast<const QRadioButton*>(box))) {
                EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
            }
        }
        if (const QString folderName = qEnvironmentVariable("TARNWICK_SCREENSHOTS");
            !folderName.isEmpty()) {
            window->grab().save(folderName + "/" + window->objectName() + ".png");
        }
        if (window != &form) {
            window->hide();
        }
    }

    // The About window's blue line keeps its hue and is lightened; the pictures are drawn light.
    const QColor blue = about.Label9->palette().color(QPalette::WindowText);
    EXPECT_EQ(blue.hslHue(), 240);
    EXPECT_GE(blue.lightness(), 150);
    for (const QAbstractButton* button : {static_cast<QAbstractButton*>(form.bbtnClose),
                                          static_cast<QAbstractButton*>(about.bbtnOk),
                                          static_cast<QAbstractButton*>(folder.bbtnClose)}) {
        EXPECT_GE(MeanLightness(button->icon().pixmap(16, 16).toImage()), 128)
            << button->objectName().toStdString();
    }
    form.close();
    frmFolder = nullptr;
}

}  // namespace
}  // namespace tarnwick::ui
