#include "ui/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSocketNotifier>
#include <QUrl>

#include <memory>
#include <optional>

#include "platform/system/program_start.h"
#include "platform/system/watched_program.h"
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

void OpenDocumentOrElse(const QString& urlOrNativePath, QObject* context,
                        std::function<void()> failed) {
    if (gOpenHook) {
        if (!gOpenHook(urlOrNativePath)) {
            failed();
        }
        return;
    }
    const QString url =
        urlOrNativePath.startsWith('/') ? FileUrl(FromQt(urlOrNativePath)) : urlOrNativePath;
    // The opener answers with its exit status only after it has tried (openUrl answers as soon
    // as it has started it).
    std::optional<platform::WatchedProgram> started =
        platform::WatchedProgram::Start("xdg-open", {FromQt(url)});
    if (!started) {
        failed();
        return;
    }
    if (started->EndDescriptor() < 0) {
        return;
    }
    const auto opener = std::make_shared<platform::WatchedProgram>(std::move(*started));
    auto* notifier = new QSocketNotifier(opener->EndDescriptor(), QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier, opener, failed = std::move(failed)] {
                         notifier->setEnabled(false);
                         const std::optional<int> status = opener->ExitStatus();
                         notifier->deleteLater();
                         if (status && *status != 0) {
                             failed();
                         }
                     });
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
