#include "ui/Ffolder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <optional>

#include "engine/queries.h"
#include "platform/system/system.h"
#include "platform/volumes/drives.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Look.h"
#include "ui/Text.h"

namespace tarnwick::ui {

namespace {

const char* const kMergeText =
    " Files && folders will be copied TO and FROM this folder, if they do not exist or are newer.";
const char* const kBackupText =
    " Files && folders will only be copied TO this folder, if they do not exist or are newer.";
const char* const kSubfoldersText = " Files && all subfolders will be synchronised.";
const char* const kOwnFilesText = " Only files in this folder will be synchronised.";

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    // Volume labels are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(Scaled(geometry));
    return label;
}

// The local path a file:// URL names, as bytes; nullopt for another host or another scheme.
std::optional<std::string> LocalFileOfUrl(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    if (url.size() < kScheme.size() ||
        !std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    std::string_view rest = std::string_view(url).substr(kScheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") {
        return std::nullopt;
    }
    const QByteArray encoded(rest.data() + slash, static_cast<qsizetype>(rest.size() - slash));
    return QByteArray::fromPercentEncoding(encoded).toStdString();
}

// "~" or "~/rest" as the shell reads it: the user's home folder, or rest inside it. nullopt when
// the home folder cannot be had.
std::optional<std::string> InHomeFolder(const std::string& typed) {
    std::optional<std::string> home = platform::HomeFolder();
    if (!home) {
        const QByteArray variable = qgetenv("HOME");
        if (!variable.startsWith('/')) {
            return std::nullopt;
        }
        home = variable.toStdString();
    }
    return *home + typed.substr(1);
}

}  // namespace

TfrmFolder::TfrmFolder(QWidget* parent) : TModalDialog(parent) {
    setObjectName("frmFolder");
    setWindowTitle(QStringLiteral("Specify folder"));
    resize(Scaled(QSize(653, 245)));
    setMinimumSize(Scaled(QSize(653, 245)));

    PanelEdit = new QWidget(this);
    PanelEdit->setObjectName("PanelEdit");
    PanelEdit->setGeometry(0, 0, width(), Scaled(65));
    Edit1 = new QLineEdit(PanelEdit);
    Edit1->setObjectName("Edit1");
    Edit1->setMaxLength(static_cast<int>(kMaxDialogPathLength));
    Edit1->setGeometry(Scaled(QRect(16, 26, 100, 21)));
    Edit1->setAccessibleName(QStringLiteral("Folder"));
    Edit1->setAccessibleDescription(QStringLiteral(
        "A drive path such as C:\\Data, or a path such as /home/ann/Data or ~/Data"));
    PanelBrowse = new QWidget(PanelEdit);
    PanelBrowse->setObjectName("PanelBrowse");
    PanelBrowse->setGeometry(width() - Scaled(47), 0, Scaled(47), Scaled(65));
    btnBrowse = MakeGlyphButton(PanelBrowse, "btnBrowse", QStyle::SP_CustomBase,
                                QStringLiteral("..."), QString(), Scaled(QRect(8, 25, 24, 22)));
    btnBrowse->setAccessibleName(QStringLiteral("Browse for a folder"));

    GroupBox1 = new QGroupBox(QStringLiteral("Disk information"), this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(Scaled(QRect(16, 64, 225, 89)));
    Label3 = MakeLabel(GroupBox1, "Label3", QStringLiteral("Label:"), {8, 20, 40, 15});
    lblLabel = MakeLabel(GroupBox1, "lblLabel", QString(), {48, 20, 169, 15});
    Label2 = MakeLabel(GroupBox1, "Label2", QStringLiteral("Serial:"), {8, 36, 40, 15});
    lblSerial = MakeLabel(GroupBox1, "lblSerial", QString(), {48, 36, 169, 15});
    lblLabel->setAccessibleDescription(QStringLiteral("Label of the disk"));
    lblSerial->setAccessibleDescription(QStringLiteral("Serial number of the disk"));
    Panel3 = new QFrame(GroupBox1);
    Panel3->setObjectName("Panel3");
    Panel3->setGeometry(Scaled(QRect(8, 52, 209, 33)));
    auto* typeBox = new QVBoxLayout(Panel3);
    typeBox->setContentsMargins(0, 0, 0, 0);
    lblType = MakeLabel(Panel3, "lblType", QString(), {});
    lblType->setWordWrap(true);
    lblType->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblType->setAccessibleDescription(QStringLiteral("Kind of drive"));
    typeBox->addWidget(lblType);

    RadioGroup1 = new QGroupBox(QStringLiteral("Folder type"), this);
    RadioGroup1->setObjectName("RadioGroup1");
    RadioGroup1->setGeometry(Scaled(QRect(248, 64, 385, 89)));
    RadioGroup1Merge = new QRadioButton(QStringLiteral("Merge"), RadioGroup1);
    RadioGroup1Merge->setObjectName("RadioGroup1Merge");
    RadioGroup1Merge->setGeometry(Scaled(QRect(8, 24, 70, 17)));
    RadioGroup1Backup = new QRadioButton(QStringLiteral("Backup"), RadioGroup1);
    RadioGroup1Backup->setObjectName("RadioGroup1Backup");
    RadioGroup1Backup->setGeometry(Scaled(QRect(8, 56, 70, 17)));
    // Exclusive, yet nothing is selected until a caller or the user picks an item.
    RadioGroup1Items = new QButtonGroup(this);
    RadioGroup1Items->setObjectName("RadioGroup1Items");
    RadioGroup1Items->addButton(RadioGroup1Merge, 0);
    RadioGroup1Items->addButton(RadioGroup1Backup, 1);

    chkSubfolders = new QCheckBox(QStringLiteral("Include subfolders"), this);
    chkSubfolders->setObjectName("chkSubfolders");
    chkSubfolders->setGeometry(Scaled(QRect(328, 67, 296, 17)));

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(Scaled(QRect(327, 84, 296, 53)));
    Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* explanationBox = new QVBoxLayout(Panel1);
    explanationBox->setContentsMargins(Scaled(4), Scaled(3), Scaled(4), Scaled(3));
    lblRadioText = MakeLabel(Panel1, "lblRadioText", QString(), {});
    lblRadioText->setWordWrap(true);
    lblRadioText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    explanationBox->addWidget(lblRadioText);

    bbtnVista = MakeGlyphButton(this, "bbtnVista", QStyle::SP_DialogSaveButton,
                                QStringLiteral("&Save"), QStringLiteral("Save the selected folder"),
                                Scaled(QRect(177, 169, 91, 25)));
    bbtnClose = MakeGlyphButton(
        this, "bbtnClose", QStyle::SP_DialogCloseButton, QStringLiteral("&Close"),
        QStringLiteral("Cancel and Close this window"), Scaled(QRect(377, 169, 91, 25)));
    // Enter saves (while Save is enabled); Escape closes as Close does.
    bbtnVista->setDefault(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(300);

    connect(Edit1, &QLineEdit::textChanged, this, &TfrmFolder::Edit1Change);
    connect(Timer1, &QTimer::timeout, this, &TfrmFolder::Timer1Timer);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmFolder::btnBrowseClick);
    connect(RadioGroup1Items, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            RadioGroup1Click();
        }
    });
    connect(chkSubfolders, &QCheckBox::toggled, this, &TfrmFolder::chkSubfoldersClick);
    connect(bbtnVista, &QPushButton::clicked, this, [this] { done(1); });
    connect(bbtnClose, &QPushButton::clicked, this, [this] { done(2); });

    FormResize();
}

int TfrmFolder::ExecuteSource(const QString& caption, std::string& path, bool& subfolders) {
    RadioGroup1->hide();
    chkSubfolders->show();
    chkSubfolders->setChecked(subfolders);
    // Setting the box to the value it already has sends no notification, and the explanation
    // may still describe the folder type of a destination opened in between.
    chkSubfoldersClick();
    const int result = Execute(caption, path);
    if (result == 1) {
        subfolders = chkSubfolders->isChecked();
    }
    return result;
}

int TfrmFolder::ExecuteDestination(const QString& caption, std::string& path, bool& merge) {
    RadioGroup1->show();
    chkSubfolders->hide();
    (merge ? RadioGroup1Merge : RadioGroup1Backup)->setChecked(true);
    RadioGroup1Click();
    const int result = Execute(caption, path);
    if (result == 1) {
        merge = Merge;
    }
    return result;
}

int TfrmFolder::Execute(const QString& caption, std::string& path) {
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Specify folder") : caption);
    Edit1->setMaxLength(static_cast<int>(kMaxDialogPathLength));
    SetPathText(ToQt(path));
    const int result = exec() == 1 ? 1 : 2;
    if (result == 1) {
        path = FromQt(Edit1->text());
    }
    return result;
}

int TfrmFolder::RadioGroup1ItemIndex() const {
    return RadioGroup1Items->checkedId();
}

void TfrmFolder::SetPathText(const QString& text) {
    // setText() would silently cut a longer text at the limit, leaving a different path; the
    // field takes it whole and Save refuses it.
    if (text.size() > Edit1->maxLength()) {
        Edit1->setMaxLength(static_cast<int>(text.size()));
    }
    Edit1->setText(text);
}

void TfrmFolder::AcceptNativePath() {
    const QString text = Edit1->text();
    const std::string bytes = FromQt(text);
    std::optional<std::string> drivePath;
    if (bytes.size() >= 2 && bytes[1] == ':' && bytes.find('/') != std::string::npos) {
        // "C:/Data": '/' never occurs in a name here, so it is a separator written the Linux way.
        // Such a text is most often a native path still being typed that an earlier refresh put
        // under the letter of the part typed then ("C:\media\ann" + "/STICK/DCIM"): where the
        // whole path lies on another lettered volume, it takes that volume's letter.
        drivePath = bytes;
        std::replace(drivePath->begin(), drivePath->end(), '/', '\\');
        const auto native = platform::ToNativePath(*drivePath);
        const auto onVolume = native ? platform::ToDrivePath(*native) : std::nullopt;
        if (onVolume && onVolume->front() != drivePath->front()) {
            drivePath = onVolume;
        }
    } else {
        std::optional<std::string> native;
        if (bytes.starts_with('/')) {
            native = bytes;
        } else if (bytes == "~" || bytes.starts_with("~/")) {
            native = InHomeFolder(bytes);
        } else {
            native = LocalFileOfUrl(bytes);
        }
        if (native) {
            drivePath = platform::ToDrivePath(*native);
        }
    }
    if (!drivePath) {
        return;
    }
    const QString rewritten = ToQt(*drivePath);
    const qsizetype fromEnd = text.size() - Edit1->cursorPosition();
    {
        const QSignalBlocker quiet(Edit1);
        SetPathText(rewritten);
    }
    Edit1->setCursorPosition(static_cast<int>(std::max<qsizetype>(0, rewritten.size() - fromEnd)));
}

bool TfrmFolder::ReadDiskInfo(const std::string& path, bool show) {
    if (path.empty()) {
        return false;
    }
    const std::string driveText{path.front(), ':'};
    std::string label = driveText;
    const std::uint32_t serial = GetVolumeSerial(driveText, label);
    const bool fits = path.size() <= kMaxDialogPathLength;
    const bool exists = fits && FolderExists(path);
    if (show) {
        std::string description;
        const std::uint32_t type = GetDriveDescription(path.front(), &description);
        lblLabel->setText(ToQt(label));
        lblLabel->setToolTip(lblLabel->text());
        lblSerial->setText(QString::number(serial));
        lblType->setText(ToQt(description));
        DriveType = static_cast<int>(type);
        bbtnVista->setEnabled(exists);
    }
    return exists && serial != 0;
}

void TfrmFolder::Timer1Timer() {
    Timer1->stop();
    AcceptNativePath();
    if (Edit1->text().isEmpty()) {
        lblLabel->clear();
        lblLabel->setToolTip(QString());
        lblSerial->clear();
        lblType->clear();
        DriveType = 0;
        bbtnVista->setEnabled(false);
        return;
    }
    ReadDiskInfo(FromQt(Edit1->text()), true);
}

void TfrmFolder::Edit1Change() {
    // Typing on while the timer runs does not put the refresh off.
    if (!Timer1->isActive()) {
        Timer1->start();
    }
}

void TfrmFolder::FormShow() {
    Timer1Timer();
    Edit1->setFocus();
}

bool TfrmFolder::FormClose(int modalResult) {
    if (modalResult != 1) {
        return true;
    }
    // The caller stores DriveType and the serial text with the path: they must describe the
    // final text, not one typed up to 300 ms earlier.
    Timer1Timer();
    const QString text = Edit1->text();
    if (text.isEmpty()) {
        return false;
    }
    return ReadDiskInfo(FromQt(text), false);
}

void TfrmFolder::FormResize() {
    Edit1->resize(PanelEdit->width() - Edit1->x() - PanelBrowse->width(), Edit1->height());
}

void TfrmFolder::btnBrowseClick() {
    // A native path typed a moment ago opens the browser at its folder.
    AcceptNativePath();
    std::string folder = FromQt(Edit1->text());
    if (TfrmFolderBrowse &&
        TfrmFolderBrowse->ChooseFolder(QStringLiteral("    Please choose a folder"), folder) == 1) {
        SetPathText(ToQt(folder));
    }
    Edit1Change();
}

void TfrmFolder::RadioGroup1Click() {
    const bool merge = RadioGroup1ItemIndex() == 0;
    lblRadioText->setText(PlainCaption(QString::fromUtf8(merge ? kMergeText : kBackupText)));
    Merge = merge;
}

void TfrmFolder::chkSubfoldersClick() {
    lblRadioText->setText(PlainCaption(
        QString::fromUtf8(chkSubfolders->isChecked() ? kSubfoldersText : kOwnFilesText)));
}

void TfrmFolder::resizeEvent(QResizeEvent* event) {
    PanelEdit->setGeometry(0, 0, width(), Scaled(65));
    PanelBrowse->setGeometry(PanelEdit->width() - PanelBrowse->width(), 0, PanelBrowse->width(),
                             PanelEdit->height());
    FormResize();
    QDialog::resizeEvent(event);
}

}  // namespace tarnwick::ui
