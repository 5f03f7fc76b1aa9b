// The main window's menu commands: Copy and Run, the log, the help pages, About and Exit.
#include "ui/Unit1.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <filesystem>
#include <system_error>

#include "engine/queries.h"
#include "platform/volumes/drives.h"
#include "platform/files/files.h"
#include "platform/system/system.h"
#include "ui/Fabout.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui {

// --- Menu commands -----------------------------------------------------------------------------

void TForm1::Copythisapplicatio1Click() {
    std::string folder;
    if (TfrmFolderBrowse == nullptr ||
        TfrmFolderBrowse->ChooseFolder(
            QStringLiteral(" Please choose a folder where to copy && run Tarnwick.exe from"),
            folder) != 1) {
        return;
    }
    const std::optional<ExecutableParts> parts = SplitExecutablePath();
    if (!parts) {
        return;
    }
    const std::string executable = parts->folder + '\\' + parts->fileName;
    const std::string target = folder + '\\' + parts->fileName;
    // Only the executable travels: the settings file of the chosen place is the copy's own.
    if (target.size() > kMaxPathLength ||
        !platform::CopyFileKeepingAttributes(executable, target, false)) {
        ShowMessageBox(this, BoxIcon::Error, QStringLiteral("Could not copy the application"),
                       QStringLiteral(" Unable to copy the appliction to \n\n\"") + ToQt(target) +
                           QStringLiteral("\"."));
        return;
    }
    const std::optional<std::string> nativeTarget = platform::ToNativePath(target);
    if (!nativeTarget || !StartProgram(ToQt(*nativeTarget))) {
        ShowMessageBox(this, BoxIcon::Error, ToQt(target),
                       QStringLiteral("Could not run the application"));
        return;
    }
    close();
}

void TForm1::Log1Click() {
    if (Form2 != nullptr) {
        errorLinesSeen_ = errorLines_;
        Form2->exec();
    }
}

void TForm1::About1Click() {
    if (frmAbout != nullptr) {
        frmAbout->exec();
    }
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::xbbtnCloseClick() {
    close();
}

void TForm1::Gettingstarted1Click() {
    OpenHelpPage("getting-started.html");
}

void TForm1::OnlineHelp1Click() {
    OpenHelpPage("online-documentation.html");
}

namespace {

// The page the executable carries, written into this user's runtime folder unless it lies there
// already as it is; the file's native path, or nullopt when it cannot be written.
std::optional<std::string> CarriedHelpPage(const char* page) {
    QFile carried(QStringLiteral(":/help/") + QLatin1String(page));
    const std::optional<std::string> runtime = platform::UserRuntimeFolder();
    if (!runtime || !carried.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray content = carried.readAll();
    const QString folder = ToQt(*runtime) + QStringLiteral("/help");
    const QString file = folder + '/' + QLatin1String(page);
    if (QFile existing(file); existing.open(QIODevice::ReadOnly) && existing.readAll() == content) {
        return FromQt(file);
    }
    QSaveFile written(file);
    if (!QDir().mkpath(folder) || !written.open(QIODevice::WriteOnly) ||
        written.write(content) != content.size() || !written.commit()) {
        return std::nullopt;
    }
    return FromQt(file);
}

}  // namespace

void OpenHelpPage(const char* page) {
    if (const std::optional<std::string> file = CarriedHelpPage(page)) {
        OpenDocument(FileUrl(*file));
        return;
    }
    std::vector<std::string> candidates;
    if (const auto executable = platform::NativeExecutablePath()) {
        const std::size_t slash = executable->rfind('/');
        if (slash != std::string::npos) {
            candidates.push_back(executable->substr(0, slash + 1) + "help/" + page);
        }
    }
    candidates.push_back(std::string(TARNWICK_INSTALLED_HELP_DIR) + "/" + page);
    for (const std::string& file : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(file, error)) {
            OpenDocument(FileUrl(file));
            return;
        }
    }
}

}  // namespace tarnwick::ui
