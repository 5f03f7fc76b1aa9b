// The main window's menu commands: Copy and Run, the log, the help pages, About and Exit.
#include "ui/Unit1.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "engine/queries.h"
#include "platform/files/files.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"
#include "ui/Fabout.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"
#include "windowlogic/program.h"

namespace tarnwick::ui {

// --- Menu commands -----------------------------------------------------------------------------

void TForm1::Copythisapplicatio1Click() {
    const bool started = windowlogic::CopyAndRun({
        [](const std::string& prompt, std::string& folder) {
            return TfrmFolderBrowse != nullptr ? TfrmFolderBrowse->ChooseFolder(ToQt(prompt), folder)
                                               : 2;
        },
        [](const std::string& from, const std::string& to) {
            return platform::CopyFileKeepingAttributes(from, to, false);
        },
        [](const std::string& target) {
            const std::optional<std::string> native = platform::ToNativePath(target);
            return native && StartProgram(ToQt(*native));
        },
        [this](const std::string& caption, const std::string& text) {
            ShowMessageBox(this, BoxIcon::Error, ToQt(caption), ToQt(text));
        },
    });
    if (started) {
        close();
    }
}

void TForm1::Log1Click() {
    if (Form2 != nullptr) {
        errorLines_.LogOpened();
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
    OpenHelpPage("getting-started.html", this);
}

void TForm1::OnlineHelp1Click() {
    OpenHelpPage("online-documentation.html", this);
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

// The help window: the page in the toolkit's rich-text viewer, for a desktop without a browser.
// One window serves every page; it is not modal, so the help stays beside the main window.
void ShowHelpWindow(const QUrl& source, QWidget* owner) {
    static QPointer<QDialog> window;
    if (window == nullptr) {
        window = new QDialog(owner);
        window->setObjectName("HelpWindow");
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto* text = new QTextBrowser(window);
        text->setObjectName("HelpBrowser");
        text->setAccessibleName(QStringLiteral("Help"));
        text->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::reject);
        QObject::connect(text, &QTextBrowser::sourceChanged, window,
                         [text] { text->window()->setWindowTitle(text->documentTitle()); });
        auto* column = new QVBoxLayout(window);
        column->addWidget(text, 1);
        column->addWidget(buttons);
        const int line = window->fontMetrics().height();
        window->resize(40 * line, 32 * line);
    }
    window->findChild<QTextBrowser*>("HelpBrowser")->setSource(source);
    window->show();
    window->raise();
    window->activateWindow();
}

// No browser could be started: the program shows the page itself, preferably the one it carries,
// whose links lead to the other carried page.
void ShowHelpInOwnWindow(const char* page, const std::optional<std::string>& found,
                         QWidget* owner) {
    const QString carried = QStringLiteral(":/help/") + QLatin1String(page);
    if (QFile::exists(carried)) {
        ShowHelpWindow(QUrl(QStringLiteral("qrc") + carried), owner);
    } else if (found) {
        ShowHelpWindow(QUrl::fromLocalFile(ToQt(*found)), owner);
    } else {
        ShowMessageBox(
            owner, BoxIcon::Error, QStringLiteral("Tarnwick"),
            QStringLiteral("The help page %1 cannot be found.").arg(QLatin1String(page)));
    }
}

}  // namespace

void OpenHelpPage(const char* page, QWidget* owner) {
    std::optional<std::string> found = CarriedHelpPage(page);
    if (!found) {
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
                found = file;
                break;
            }
        }
    }
    if (found) {
        QPointer<QWidget> window = owner;
        OpenDocumentOrElse(
            FileUrl(*found), owner != nullptr ? static_cast<QObject*>(owner) : qApp,
            [page, file = *found, window] { ShowHelpInOwnWindow(page, file, window); });
        return;
    }
    ShowHelpInOwnWindow(page, std::nullopt, owner);
}

}  // namespace tarnwick::ui
