#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {
namespace {

class LogWindowTest : public ::testing::Test {
protected:
    // Closing a test's windows must not end the event loops of later tests.
    void SetUp() override { QGuiApplication::setQuitOnLastWindowClosed(false); }
};

TEST_F(LogWindowTest, DesignOfTheWindowAndItsTextArea) {
    TForm2 log;
    EXPECT_EQ(log.objectName(), QString("Form2"));
    EXPECT_EQ(log.windowTitle(), QString("Log"));
    EXPECT_EQ(log.size(), QSize(472, 297));
    // No system menu: nothing in the title bar but the caption.
    EXPECT_FALSE(log.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(log.windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(log.windowFlags() & Qt::CustomizeWindowHint);

    QPlainTextEdit* memo = log.findChild<QPlainTextEdit*>("Memo1");
    ASSERT_EQ(memo, log.Memo1);
    EXPECT_EQ(memo->toPlainText(), QString("Memo1"));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_NE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->palette().color(QPalette::Base), memo->palette().color(QPalette::Button));

    log.show();
    // Margins of 25 at the top and the sides, the button row of 39 at the bottom.
    EXPECT_EQ(memo->geometry(), QRect(25, 25, 472 - 50, 297 - 25 - 39));
    EXPECT_EQ(log.Button1->geometry(), QRect(194, 7, 75, 25));
    EXPECT_EQ(log.Button1->text(), QString("&OK"));

    // The button keeps its place when the window grows; the text area takes the room.
    log.resize(700, 400);
    QTest::qWait(0);
    EXPECT_EQ(log.Button1->geometry(), QRect(194, 7, 75, 25));
    EXPECT_EQ(memo->geometry(), QRect(25, 25, 700 - 50, 400 - 25 - 39));
}

TEST_F(LogWindowTest, TextCanBeSelectedAndCopiedButNotChanged) {
    TForm2 log;
    log.Memo1->setPlainText(QString("Synchronising from \"D:\\a\" to \"E:\\b\"\nsecond"));
    log.show();
    log.Memo1->setFocus();
    QTest::keyClicks(log.Memo1, "typed");
    QTest::keySequence(log.Memo1, QKeySequence::Paste);
    QTest::keySequence(log.Memo1, QKeySequence::Cut);
    QTest::keyClick(log.Memo1, Qt::Key_Backspace);
    EXPECT_EQ(log.Memo1->toPlainText(),
              QString("Synchronising from \"D:\\a\" to \"E:\\b\"\nsecond"));

    QApplication::clipboard()->setText("before");
    QTest::keySequence(log.Memo1, QKeySequence::SelectAll);
    QTest::keySequence(log.Memo1, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), log.Memo1->toPlainText());

    // A line longer than the area wraps on the screen and stays one line of the log.
    const QString longLine(400, QChar('x'));
    log.Memo1->setPlainText(longLine);
    QTest::qWait(0);
    EXPECT_EQ(log.Memo1->document()->blockCount(), 1);
    EXPECT_GT(log.Memo1->document()->firstBlock().layout()->lineCount(), 1);
}

TEST_F(LogWindowTest, EveryCloseAnswers2) {
    TForm2 log;
    int result = -1;
    QTimer::singleShot(0, &log, [&] { log.Button1->click(); });
    result = log.exec();
    EXPECT_EQ(result, 2);
    EXPECT_FALSE(log.isVisible());

    QTimer::singleShot(0, &log, [&] { log.close(); });
    EXPECT_EQ(log.exec(), 2);
}

TEST_F(LogWindowTest, OpensCentredOverTheMainWindow) {
    TForm2 log;
    TForm1 main;
    Form1 = &main;
    Form2 = &log;
    main.move(40, 30);
    main.show();
    log.show();
    const QPoint offset = log.frameGeometry().center() - main.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
    log.hide();
    main.move(200, 120);
    log.show();
    const QPoint moved = log.frameGeometry().center() - main.frameGeometry().center();
    EXPECT_LE(moved.manhattanLength(), 2);
    log.hide();
    main.close();
    Form1 = nullptr;
    Form2 = nullptr;
}

}  // namespace
}  // namespace tarnwick::ui
