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
#include <optional>

#include "ui/Ffolderbrowse.h"
#include "ui/Forms.h"
#include "ui/Look.h"
#include "ui/Text.h"
#include "windowlogic/folder_dialog.h"

namespace tarnwick::ui {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    // Volume labels are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(Scaled(geometry));
    return label;
}

}  // namespace

TfrmFolder::TfrmFolder(QWidget* parent) : TModalDialog(parent) {
    setObjectName("frmFolder");
    setWindowTitle(ToQt(windowlogic::kFolderDialogCaption));
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
    Timer1->setInterval(windowlogic::kRefreshMilliseconds);

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
    setWindowTitle(caption.isEmpty() ? ToQt(windowlogic::kFolderDialogCaption) : caption);
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
    const std::optional<std::string> drivePath = windowlogic::DrivePathOfTyped(FromQt(text));
    if (!drivePath) {
        return;
    }
    const QString rewritten = ToQt(*drivePath);
    const int cursor = Edit1->cursorPosition();
    {
        const QSignalBlocker quiet(Edit1);
        SetPathText(rewritten);
    }
    Edit1->setCursorPosition(windowlogic::CursorAfterRewrite(static_cast<int>(text.size()), cursor,
                                                             static_cast<int>(rewritten.size())));
}

void TfrmFolder::ReadDiskInfo(const std::string& path) {
    const std::uint64_t question = ++asked_;
    bbtnVista->setEnabled(false);
    questions_.Ask<windowlogic::DiskInfo>(
        [path] { return windowlogic::DiskInfoOf(path); },
        [this, question](const windowlogic::DiskInfo& info) {
            if (question != asked_) {
                return;
            }
            answered_ = question;
            lblLabel->setText(ToQt(info.label));
            lblLabel->setToolTip(lblLabel->text());
            lblSerial->setText(QString::number(info.serial));
            lblType->setText(ToQt(info.description));
            DriveType = info.driveType;
            saveAccepted_ = info.rule.accepted;
            bbtnVista->setEnabled(info.rule.enabled);
        });
}

void TfrmFolder::Timer1Timer() {
    Timer1->stop();
    AcceptNativePath();
    if (Edit1->text().isEmpty()) {
        answered_ = ++asked_;
        saveAccepted_ = false;
        lblLabel->clear();
        lblLabel->setToolTip(QString());
        lblSerial->clear();
        lblType->clear();
        DriveType = 0;
        bbtnVista->setEnabled(false);
        return;
    }
    ReadDiskInfo(FromQt(Edit1->text()));
}

void TfrmFolder::Edit1Change() {
    // What was read describes another text now.
    ++asked_;
    bbtnVista->setEnabled(false);
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
    // final text. Until its answer has come, a Save is refused, as Save is disabled meanwhile.
    if (Timer1->isActive()) {
        Timer1Timer();
    }
    return !Edit1->text().isEmpty() && !DiskInfoPending() && saveAccepted_;
}

void TfrmFolder::FormResize() {
    Edit1->resize(PanelEdit->width() - Edit1->x() - PanelBrowse->width(), Edit1->height());
}

void TfrmFolder::btnBrowseClick() {
    // A native path typed a moment ago opens the browser at its folder.
    AcceptNativePath();
    std::string folder = FromQt(Edit1->text());
    if (TfrmFolderBrowse &&
        TfrmFolderBrowse->ChooseFolder(ToQt(windowlogic::kBrowsePrompt), folder) == 1) {
        SetPathText(ToQt(folder));
    }
    Edit1Change();
}

void TfrmFolder::RadioGroup1Click() {
    const bool merge = RadioGroup1ItemIndex() == 0;
    lblRadioText->setText(PlainCaption(ToQt(windowlogic::FolderTypeExplanation(merge))));
    Merge = merge;
}

void TfrmFolder::chkSubfoldersClick() {
    lblRadioText->setText(
        PlainCaption(ToQt(windowlogic::SubfolderExplanation(chkSubfolders->isChecked()))));
}

void TfrmFolder::resizeEvent(QResizeEvent* event) {
    PanelEdit->setGeometry(0, 0, width(), Scaled(65));
    PanelBrowse->setGeometry(PanelEdit->width() - PanelBrowse->width(), 0, PanelBrowse->width(),
                             PanelEdit->height());
    FormResize();
    QDialog::resizeEvent(event);
}

}  // namespace tarnwick::ui
