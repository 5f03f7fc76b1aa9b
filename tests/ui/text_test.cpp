#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QUrl>

#include "folder_test_support.h"
#include "ui/Shell.h"
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

TEST(TextTest, PathsReachUrlsAndMessageBoxesUnchanged) {
    // A folder name that is no UTF-8 keeps its bytes in the URL handed to the desktop.
    const std::string folder("/tmp/bad\xff name#1");
    const QUrl url(FileUrl(folder));
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString(),
        folder);

    // A path that looks like markup is shown as it is.
    const QString path("C:\\x\\<b>y</b>\\a&lt;b\\New Folder");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    testing::WhenModal<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        format = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    ShowMessageBox(nullptr, BoxIcon::Error, QStringLiteral("Could not create the directory"), path);
    EXPECT_EQ(shown, path);
    EXPECT_EQ(format, Qt::PlainText);
}

}  // namespace
}  // namespace tarnwick::ui
