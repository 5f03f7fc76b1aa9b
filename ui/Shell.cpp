#include "ui/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "platform/system/program_start.h"
#include "ui/Text.h"

namespace tarnwick::ui {

namespace {
MessageBoxHook gMessageBoxHook;
OpenHook gOpenHook;
OpenHook gStartHook;
}  // namespace

void ShowMessageBox(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text) {
    if (gMessageBoxHook) {
        gMessageBoxHook(icon, caption, text);
        return;
    }
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                    text, QMessageBox::Ok, parent);
    // A path in the text is shown as it is, never taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ShowErrorMessage(const QString& text) {
    ShowMessageBox(nullptr, BoxIcon::Error, QStringLiteral("Tarnwick"), text);
}

bool OpenDocument(const QString& urlOrNativePath) {
    if (gOpenHook) {
        return gOpenHook(urlOrNativePath);
    }
    const QUrl url = urlOrNativePath.startsWith('/') ? QUrl(FileUrl(FromQt(urlOrNativePath)))
                                                     : QUrl(urlOrNativePath);
    return QDesktopServices::openUrl(url);
}

QString FileUrl(const std::string& nativePath) {
    return QStringLiteral("file://") +
           QString::fromLatin1(QByteArray::fromStdString(nativePath).toPercentEncoding("/"));
}

bool StartProgram(const QString& nativePath) {
    if (gStartHook) {
        return gStartHook(nativePath);
    }
    // A copy on a stick that gives it no execute bit is started through its interpreter.
    const std::optional<platform::ProgramStart> start = platform::HowToStart(FromQt(nativePath));
    if (!start) {
        return false;
    }
    QStringList arguments;
    for (const std::string& argument : start->arguments) {
        arguments.push_back(ToQt(argument));
    }
    return QProcess::startDetached(ToQt(start->program), arguments,
                                   QFileInfo(nativePath).absolutePath());
}

void SetMessageBoxHookForTesting(MessageBoxHook hook) {
    gMessageBoxHook = std::move(hook);
}
void SetOpenDocumentHookForTesting(OpenHook hook) {
    gOpenHook = std::move(hook);
}
void SetStartProgramHookForTesting(OpenHook hook) {
    gStartHook = std::move(hook);
}

}  // namespace tarnwick::ui
