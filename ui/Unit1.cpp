#include "ui/Unit1.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/queries.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/folder_groups.h"
#include "settings/settings_file.h"
#include "ui/Fabout.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui {

std::atomic<bool> SyncErrorFlag{false};

namespace {

bool gThreadStartFails = false;

constexpr int kListButtonSize = 26;
constexpr int kListButtonGap = 2;
// Room that a volume label keeps before the drive-type sentence beside it is shortened.
constexpr int kKeptLabel = 90;

// Calls back whenever a watched widget moves or changes its size.
class GeometryWatcher : public QObject {
public:
    GeometryWatcher(QObject* parent, std::function<void()> onChange)
        : QObject(parent), onChange_(std::move(onChange)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
            onChange_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onChange_;
};

// A label that shortens its text with an ellipsis when the window is too narrow for it, rather
// than widening the window or cutting the text off at its aligned side.
class ElidedLabel : public QLabel {
public:
    // The label gives up room to its neighbours only beyond `keep` pixels of its text.
    ElidedLabel(const QString& text, QWidget* parent, int keep)
        : QLabel(text, parent), keep_(keep) {}

    QSize minimumSizeHint() const override {
        const QSize full = QLabel::minimumSizeHint();
        return {std::min(full.width(), keep_), full.height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                              shown, foregroundRole());
    }

private:
    int keep_;
};

void MakeBold(QLabel* label) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, bool bold = false) {
    auto* label = new QLabel(PlainCaption(text), parent);
    label->setObjectName(name);
    if (bold) {
        MakeBold(label);
    }
    return label;
}

QLabel* MakeElidedLabel(QWidget* parent, const char* name, const QString& text, bool bold = false,
                        int keep = 0) {
    auto* label = new ElidedLabel(PlainCaption(text), parent, keep);
    label->setObjectName(name);
    if (bold) {
        MakeBold(label);
    }
    return label;
}

QToolButton* MakeListButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture,
                            const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(parent->style()->standardIcon(picture));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(kListButtonSize, kListButtonSize);
    button->setToolTip(hint);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QPushButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture,
                        const QString& caption) {
    auto* button = new QPushButton(parent->style()->standardIcon(picture), caption, parent);
    button->setObjectName(name);
    button->setMinimumWidth(85);
    return button;
}

QListWidget* MakeList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    list->setMinimumHeight(24);
    return list;
}

// One details line: "Serial: ", serial, ten blanks, "Label: ", label, and the drive-type sentence
// at the right. The labels get the designer names in `names`, in that order.
struct DetailsLabels {
    QLabel*& serialCaption;
    QLabel*& serial;
    QLabel*& spacer;
    QLabel*& labelCaption;
    QLabel*& label;
    QLabel*& type;
};

QHBoxLayout* DetailsLine(QWidget* parent, const std::array<const char*, 6>& names,
                         const DetailsLabels& labels) {
    labels.serialCaption = MakeLabel(parent, names[0], QStringLiteral("Serial: "));
    labels.serial = MakeLabel(parent, names[1], QStringLiteral(" "));
    labels.spacer = MakeLabel(parent, names[2], QStringLiteral("          "));
    labels.labelCaption = MakeLabel(parent, names[3], QStringLiteral("Label: "));
    labels.label = MakeElidedLabel(parent, names[4], QStringLiteral(" "), false, kKeptLabel);
    labels.type = MakeElidedLabel(parent, names[5], QStringLiteral(" "));
    labels.type->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The blanks between serial and label give way first when room is short.
    labels.spacer->setMinimumWidth(8);

    auto* line = new QHBoxLayout;
    line->setSpacing(0);
    for (QLabel* part :
         {labels.serialCaption, labels.serial, labels.spacer, labels.labelCaption, labels.label}) {
        line->addWidget(part);
    }
    line->addStretch(1);
    line->addSpacing(6);
    line->addWidget(labels.type);
    // The details of a disk take little room: they are written a little smaller than the rest.
    for (int i = 0; i < line->count(); ++i) {
        if (QWidget* part = line->itemAt(i)->widget()) {
            QFont font = part->font();
            font.setPointSizeF(font.pointSizeF() * 0.85);
            part->setFont(font);
        }
    }
    return line;
}

std::string Quoted(std::string_view path) {
    std::string quoted;
    quoted.reserve(path.size() + 2);
    quoted += '"';
    quoted += path;
    quoted += '"';
    return quoted;
}

// The group number of a source item, the entry number of a destination item.
constexpr int kNumberRole = Qt::UserRole;

// Longest folder path that a dropped item may hand to the folder dialog.
constexpr std::size_t kMaxDroppedPath = kMaxDialogPathLength;

// The row of the selected item; -1 when nothing is selected (an item that is only current, as
// after the list got the keyboard focus, is not selected).
int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

int NumberAt(const QListWidget* list, int row) {
    return list->item(row)->data(kNumberRole).toInt();
}

std::string PathAt(const QListWidget* list, int row) {
    return FromQt(list->item(row)->text());
}

// Selects a row without running the selection handlers (the commands run them themselves, in
// their order); a row outside the list selects nothing.
void Select(QListWidget* list, int row) {
    const QSignalBlocker quiet(list);
    if (row >= 0 && row < list->count()) {
        list->setCurrentRow(row);
    } else {
        list->clearSelection();
        list->setCurrentRow(-1);
    }
}

// Empties a list without running its selection handler.
void Clear(QListWidget* list) {
    const QSignalBlocker quiet(list);
    list->clear();
}

void AppendItem(QListWidget* list, int number, const std::string& path) {
    auto* item = new QListWidgetItem(ToQt(path), list);
    item->setData(kNumberRole, number);
}

// The first row whose text equals the path without regard to case; -1 when there is none.
int FindPath(const QListWidget* list, const std::string& path) {
    const QString wanted = ToQt(path);
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text().compare(wanted, Qt::CaseInsensitive) == 0) {
            return row;
        }
    }
    return -1;
}

void BlankDetails(std::initializer_list<QLabel*> labels) {
    for (QLabel* label : labels) {
        label->setText(QStringLiteral(" "));
    }
}

// The folder the folder dialog has just saved: its path and flags with the drive type and the
// serial text that the dialog read for that path.
FolderEntry SavedFolder(const std::string& path, bool merge, bool subfolders) {
    return {path, frmFolder->DriveType, FromQt(frmFolder->lblSerial->text()), merge, subfolders};
}

// Runs a list command. An error it raises (the settings file could not be written) ends the
// command where it happened and is shown by the standard error display; it is caught here rather
// than in the application object so that it never unwinds through the toolkit's click handling.
template <typename Command>
void RunCommand(Command&& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ShowErrorMessage(ToQt(error.what()));
    }
}

// The native path of a file:// URL of this computer, byte for byte; empty for any other URL.
std::string LocalPathOfUrl(const QUrl& url) {
    if (!url.isLocalFile() ||
        !(url.host().isEmpty() || url.host() == QStringLiteral("localhost"))) {
        return {};
    }
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

// The items of a drop: file managers offer file:// URLs (text/uri-list) or native paths, one a
// line (text/plain).
std::vector<std::string> DroppedItems(const QMimeData& data) {
    std::vector<std::string> items;
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            items.push_back(LocalPathOfUrl(url));
        }
    } else if (data.hasText()) {
        for (QString line : data.text().split('\n', Qt::SkipEmptyParts)) {
            if (line.endsWith('\r')) {
                line.chop(1);
            }
            if (line.isEmpty()) {
                continue;
            }
            items.push_back(line.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)
                                ? LocalPathOfUrl(QUrl(line))
                                : FromQt(line));
        }
    }
    return items;
}

}  // namespace

// Stands in for the lists' replaced window procedures: takes the drag and drop events of a
// list's viewport (where Qt delivers them) and hands every other event on unchanged.
class FolderDropFilter : public QObject {
public:
    FolderDropFilter(TForm1* form, QListWidget* list) : QObject(form), form_(form), list_(list) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                if (Accepting() && drag->mimeData() != nullptr &&
                    !DroppedItems(*drag->mimeData()).empty()) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (!Accepting() || drop->mimeData() == nullptr) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                // The drop ends first: the file manager waits for its answer, and the dialog or the
                // message that follows would keep it waiting for as long as it is open.
                QMetaObject::invokeMethod(
                    form_,
                    [form = form_, list = list_, items = DroppedItems(*drop->mimeData())] {
                        form->FolderDropped(list, items);
                    },
                    Qt::QueuedConnection);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    bool Accepting() const { return list_->viewport()->acceptDrops(); }

    TForm1* form_;
    QListWidget* list_;
};

std::string DateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return {};
    }
    char text[256];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

std::optional<ExecutableParts> SplitExecutablePath() {
    const std::optional<std::string> path = platform::ExecutablePath();
    // The path was read into 1,024 bytes with its terminator.
    if (!path || path->size() <= 3 || path->size() > 1023) {
        return std::nullopt;
    }
    const std::size_t slash = path->rfind('\\');
    if (slash == std::string::npos || slash == 0 || slash + 1 == path->size()) {
        return std::nullopt;
    }
    return ExecutableParts{path->substr(0, slash), path->substr(slash + 1)};
}

void SetSyncThreadStartFailsForTesting(bool fails) {
    gThreadStartFails = fails;
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Tarnwick"));
    resize(524, 462);
    setMinimumSize(300, 300);

    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    File1->setObjectName("File1");
    Copythisapplicatio1 =
        File1->addAction(QStringLiteral("&Copy and Run this application from a removable device"));
    Copythisapplicatio1->setObjectName("Copythisapplicatio1");
    Copythisapplicatio1->setStatusTip(
        QStringLiteral("Select a folder on a removable device, copy this application to it and "
                       "then run it from there."));
    Log1 = File1->addAction(QStringLiteral("Log"));
    Log1->setObjectName("Log1");
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("&Exit"));
    Exit1->setObjectName("Exit1");
    Exit1->setStatusTip(QStringLiteral("Close this application"));

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName("Help1");
    Gettingstarted1 = Help1->addAction(QStringLiteral("Getting started"));
    Gettingstarted1->setObjectName("Gettingstarted1");
    OnlineHelp1 = Help1->addAction(QStringLiteral("&Online documentation"));
    OnlineHelp1->setObjectName("OnlineHelp1");
    Help1->addSeparator();
    About1 = Help1->addAction(QStringLiteral("&About"));
    About1->setObjectName("About1");

    auto* central = new QWidget(this);
    central->setObjectName("CentralPanel");
    setCentralWidget(central);

    Label3 = MakeElidedLabel(central, "Label3", QStringLiteral("Source folders:"), true);
    Label1 = MakeElidedLabel(central, "Label1", QStringLiteral("Computer:  "));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblComputer = MakeLabel(central, "lblComputer", QString(), true);
    lblComputer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ListBox1 = MakeList(central, "ListBox1");
    QHBoxLayout* details1 =
        DetailsLine(central, {"Label9", "lblSerial1", "Label10", "Label8", "lblLabel1", "lblType1"},
                    {Label9, lblSerial1, Label10, Label8, lblLabel1, lblType1});

    Label5 = MakeElidedLabel(central, "Label5", QStringLiteral("Destination folders:"), true);
    ListBox2 = MakeList(central, "ListBox2");
    QHBoxLayout* details2 = DetailsLine(
        central, {"Label11", "lblSerial2", "Label12", "Label13", "lblLabel2", "lblType2"},
        {Label11, lblSerial2, Label12, Label13, lblLabel2, lblType2});

    PanelButtons = new QWidget(central);
    PanelButtons->setObjectName("PanelButtons");
    PanelButtons->setFixedWidth(kListButtonSize + 8);
    bbtnNew1 = MakeListButton(PanelButtons, "bbtnNew1", QStyle::SP_FileDialogNewFolder,
                              QStringLiteral("New source folder"));
    bbtnChange1 = MakeListButton(PanelButtons, "bbtnChange1", QStyle::SP_FileDialogDetailedView,
                                 QStringLiteral("Change selected source folder"));
    bbtnDel1 = MakeListButton(PanelButtons, "bbtnDel1", QStyle::SP_TrashIcon,
                              QStringLiteral("Delete selected source folder"));
    bbtnNew2 = MakeListButton(PanelButtons, "bbtnNew2", QStyle::SP_FileDialogNewFolder,
                              QStringLiteral("New destination folder"));
    bbtnChange2 = MakeListButton(PanelButtons, "bbtnChange2", QStyle::SP_FileDialogDetailedView,
                                 QStringLiteral("Change selected destination folder"));
    bbtnDel2 = MakeListButton(PanelButtons, "bbtnDel2", QStyle::SP_TrashIcon,
                              QStringLiteral("Delete selected destination folder"));

    // The progress fields are 50 pixels narrower than their panel: 45 for the captions, 5 to
    // the right.
    PanelEdit = new QWidget(central);
    PanelEdit->setObjectName("PanelEdit");
    Label2 = MakeLabel(PanelEdit, "Label2", QStringLiteral("From:"));
    Label4 = MakeLabel(PanelEdit, "Label4", QStringLiteral("To:"));
    Edit1 = new QLineEdit(PanelEdit);
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit2 = new QLineEdit(PanelEdit);
    Edit2->setObjectName("Edit2");
    Edit2->setReadOnly(true);
    auto* edits = new QGridLayout(PanelEdit);
    edits->setContentsMargins(0, 0, 5, 0);
    edits->setHorizontalSpacing(0);
    edits->setVerticalSpacing(4);
    edits->setColumnMinimumWidth(0, 45);
    edits->addWidget(Label2, 0, 0);
    edits->addWidget(Edit1, 0, 1);
    edits->addWidget(Label4, 1, 0);
    edits->addWidget(Edit2, 1, 1);
    Label2->setFixedWidth(45);
    Label4->setFixedWidth(45);

    Label6 = MakeElidedLabel(central, "Label6", QStringLiteral("Synchronized files: "));
    lblCount = MakeLabel(central, "lblCount", QStringLiteral("000000"));
    bbtnStart =
        MakeButton(central, "bbtnStart", QStyle::SP_BrowserReload, QStringLiteral("&Synchronize "));
    bbtnCancel =
        MakeButton(central, "bbtnCancel", QStyle::SP_DialogCancelButton, QStringLiteral("&Cancel"));
    bbtnCancel->hide();
    const int runButtonWidth =
        std::max(bbtnStart->sizeHint().width(), bbtnCancel->sizeHint().width());
    bbtnStart->setFixedWidth(runButtonWidth);
    bbtnCancel->setFixedWidth(runButtonWidth);
    bbtnClose =
        MakeButton(central, "bbtnClose", QStyle::SP_DialogCloseButton, QStringLiteral("&Exit"));
    bbtnClose->setToolTip(QStringLiteral("Exit the application"));

    auto* heading = new QHBoxLayout;
    heading->setSpacing(0);
    heading->addWidget(Label3);
    heading->addStretch(1);
    heading->addSpacing(6);
    heading->addWidget(Label1);
    heading->addWidget(lblComputer);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(6);
    bottom->addWidget(Label6);
    bottom->addWidget(lblCount);
    bottom->addStretch(1);
    // Synchronize and Cancel share one place: only one of them is ever visible.
    bottom->addWidget(bbtnStart);
    bottom->addWidget(bbtnCancel);
    bottom->addSpacing(6);
    bottom->addWidget(bbtnClose);

    // bbtnClose ends 10 pixels left of the button column: the right margin of this column.
    auto* column = new QVBoxLayout;
    column->setContentsMargins(8, 6, 10, 8);
    column->setSpacing(2);
    column->addLayout(heading);
    column->addWidget(ListBox1, 1);
    column->addLayout(details1);
    column->addSpacing(6);
    column->addWidget(Label5);
    column->addWidget(ListBox2, 1);
    column->addLayout(details2);
    column->addSpacing(6);
    column->addWidget(PanelEdit);
    column->addSpacing(6);
    column->addLayout(bottom);

    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(column, 1);
    outer->addWidget(PanelButtons);

    // Each group of three list buttons stays level with its list, wherever the layout puts it.
    auto* watcher = new GeometryWatcher(this, [this] { PlaceListButtons(); });
    ListBox1->installEventFilter(watcher);
    ListBox2->installEventFilter(watcher);
    PanelButtons->installEventFilter(watcher);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    TimerError = new QTimer(this);
    TimerError->setObjectName("TimerError");
    TimerError->setInterval(500);

    connect(Copythisapplicatio1, &QAction::triggered, this, &TForm1::Copythisapplicatio1Click);
    connect(Log1, &QAction::triggered, this, &TForm1::Log1Click);
    connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
    connect(Gettingstarted1, &QAction::triggered, this, &TForm1::Gettingstarted1Click);
    connect(OnlineHelp1, &QAction::triggered, this, &TForm1::OnlineHelp1Click);
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);
    // A change of selection by mouse or keyboard; the commands select without this signal.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, &TForm1::ListBox1Click);
    connect(ListBox2, &QListWidget::itemSelectionChanged, this, &TForm1::ListBox2Click);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm1::bbtnChange1Click);
    connect(ListBox2, &QListWidget::itemDoubleClicked, this, &TForm1::bbtnChange2Click);
    connect(bbtnNew1, &QToolButton::clicked, this, &TForm1::bbtnNew1Click);
    connect(bbtnChange1, &QToolButton::clicked, this, &TForm1::bbtnChange1Click);
    connect(bbtnDel1, &QToolButton::clicked, this, &TForm1::bbtnDel1Click);
    connect(bbtnNew2, &QToolButton::clicked, this, &TForm1::bbtnNew2Click);
    connect(bbtnChange2, &QToolButton::clicked, this, &TForm1::bbtnChange2Click);
    connect(bbtnDel2, &QToolButton::clicked, this, &TForm1::bbtnDel2Click);
    connect(bbtnStart, &QPushButton::clicked, this, &TForm1::btnStartClick);
    connect(bbtnCancel, &QPushButton::clicked, this, &TForm1::bbtnCancelClick);
    connect(bbtnClose, &QPushButton::clicked, this, &TForm1::xbbtnCloseClick);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(TimerError, &QTimer::timeout, this, &TForm1::TimerErrorTimer);

    // Dropped folders: the source list takes them from now on, the destination list only while
    // a source is selected (UpdateListButtons).
    dropFilter1_ = new FolderDropFilter(this, ListBox1);
    dropFilter2_ = new FolderDropFilter(this, ListBox2);
    ListBox1->viewport()->setAcceptDrops(true);
    ListBox2->viewport()->setAcceptDrops(false);
    ListBox1->viewport()->installEventFilter(dropFilter1_);
    ListBox2->viewport()->installEventFilter(dropFilter2_);

    FormCreate();
}

TForm1::~TForm1() {
    StopRunAndWait();
}

void TForm1::PlaceListButtons() {
    const auto place = [this](QListWidget* list, std::initializer_list<QToolButton*> buttons) {
        int top = list->mapTo(centralWidget(), QPoint(0, 0)).y() -
                  PanelButtons->mapTo(centralWidget(), QPoint(0, 0)).y();
        for (QToolButton* button : buttons) {
            button->move(0, top);
            top += button->height() + kListButtonGap;
        }
    };
    place(ListBox1, {bbtnNew1, bbtnChange1, bbtnDel1});
    place(ListBox2, {bbtnNew2, bbtnChange2, bbtnDel2});
}

// --- Creation, show and close ------------------------------------------------------------------

void TForm1::FormCreate() {
    LoadSourceList();
    Edit1->clear();
    Edit2->clear();
    lblCount->setText(QStringLiteral("0"));
}

void TForm1::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (!centred_) {
            centred_ = true;
            if (const QScreen* desktop = screen()) {
                move(pos() + desktop->availableGeometry().center() - frameGeometry().center());
            }
        }
        FormShow();
    }
    QMainWindow::showEvent(event);
}

void TForm1::FormShow() {
    if (Form2 != nullptr) {
        LogMemo = Form2->Memo1;
    }
    SyncErrorFlag = false;
    if (LogMemo) {
        LogMemo->clear();
    }
    UpdateListButtons();
    if (const auto parts = SplitExecutablePath()) {
        setWindowTitle(QStringLiteral("Tarnwick - Location ") + ToQt(parts->folder));
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    StopRunAndWait();
    QMainWindow::closeEvent(event);
}

void TForm1::FormClose() {
    for (auto [list, filter] :
         {std::pair{ListBox1, &dropFilter1_}, std::pair{ListBox2, &dropFilter2_}}) {
        if (*filter != nullptr) {
            list->viewport()->removeEventFilter(*filter);
            list->viewport()->setAcceptDrops(false);
            delete *filter;
            *filter = nullptr;
        }
    }
}

void TForm1::StopRunAndWait() {
    if (!worker_.joinable()) {
        return;
    }
    // The worker stops before its next folder entry or directory entry; a file being copied is
    // finished (or its temporary file removed) first, so nothing is left half written.
    Progress.Continue = false;
    const bool showWait = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (showWait) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    worker_.join();
    if (showWait) {
        QGuiApplication::restoreOverrideCursor();
    }
}

// --- Folder lists and their commands -----------------------------------------------------------

void TForm1::LoadSourceList() {
    BlankDetails({lblLabel1, lblSerial1, lblType1, lblLabel2, lblSerial2, lblType2});
    lblCount->setText(QStringLiteral("0"));
    if (const auto computer = ComputerName()) {
        lblComputer->setText(ToQt(*computer));
    }
    Clear(ListBox1);
    for (const auto& [group, path] : ListFolderGroups()) {
        AppendItem(ListBox1, group, path);
    }
}

void TForm1::LoadDestinationList(int group) {
    if (const auto computer = ComputerName()) {
        lblComputer->setText(ToQt(*computer));
    }
    Clear(ListBox2);
    for (const auto& [entry, path] : ListFolderEntries(group)) {
        AppendItem(ListBox2, entry, path);
    }
}

void TForm1::ShowFolderDetails(const std::string& path, QLabel* labelLabel, QLabel* serialLabel,
                               QLabel* typeLabel) {
    const std::string driveText = path.substr(0, 2);
    std::string description;
    GetDriveDescription(path.empty() ? '\0' : path[0], &description);
    typeLabel->setText(ToQt(description));
    // An unreadable volume leaves the drive text itself in the label.
    std::string label = driveText;
    const std::uint32_t serial = GetVolumeSerial(driveText, label);
    labelLabel->setText(ToQt(label));
    serialLabel->setText(QString::number(serial));
}

void TForm1::ListBox1Click() {
    BlankDetails({lblLabel1, lblSerial1, lblType1, lblLabel2, lblSerial2, lblType2});
    Clear(ListBox2);
    const int source = SelectedRow(ListBox1);
    if (source < 0) {
        UpdateListButtons();
        return;
    }
    ShowFolderDetails(PathAt(ListBox1, source), lblLabel1, lblSerial1, lblType1);
    LoadDestinationList(NumberAt(ListBox1, source));
    if (ListBox2->count() > 0) {
        Select(ListBox2, 0);
    }
    ListBox2Click();
}

void TForm1::ListBox2Click() {
    BlankDetails({lblLabel2, lblSerial2, lblType2});
    const int destination = SelectedRow(ListBox2);
    if (destination >= 0) {
        ShowFolderDetails(PathAt(ListBox2, destination), lblLabel2, lblSerial2, lblType2);
    }
    UpdateListButtons();
}

void TForm1::UpdateListButtons() {
    const bool source = SelectedRow(ListBox1) >= 0;
    const bool destination = SelectedRow(ListBox2) >= 0;
    bbtnChange1->setEnabled(source);
    bbtnDel1->setEnabled(source);
    bbtnNew2->setEnabled(source);
    bbtnChange2->setEnabled(destination);
    bbtnDel2->setEnabled(destination);
    if (dropFilter2_ != nullptr) {
        ListBox2->viewport()->setAcceptDrops(source);
    }
}

bool TForm1::AddSourceFolder(const std::optional<std::string>& dropped) {
    std::string path = dropped.value_or(std::string());
    bool subfolders = true;
    if (frmFolder == nullptr ||
        frmFolder->ExecuteSource(QStringLiteral("Please choose a new Source Folder "), path,
                                 subfolders) != 1) {
        return false;
    }
    const int group = AddFolderGroup(SavedFolder(path, false, subfolders));
    LoadSourceList();
    if (group <= 0) {
        return false;
    }
    Select(ListBox1, FindPath(ListBox1, path));
    ListBox1Click();
    return true;
}

bool TForm1::AddDestinationFolder(const std::optional<std::string>& dropped) {
    const int source = SelectedRow(ListBox1);
    if (source < 0 || frmFolder == nullptr) {
        return false;
    }
    const int group = NumberAt(ListBox1, source);
    std::string path = dropped.value_or(std::string());
    bool merge = false;
    if (frmFolder->ExecuteDestination(QStringLiteral("Please choose a new Destination Folder"),
                                      path, merge) != 1) {
        return false;
    }
    if (AddFolderEntry(group, SavedFolder(path, merge, false)) <= 0) {
        return false;
    }
    ListBox1Click();
    const int added = FindPath(ListBox2, path);
    if (added < 0) {
        return false;
    }
    Select(ListBox2, added);
    ListBox2Click();
    return true;
}

void TForm1::bbtnNew1Click() {
    RunCommand([this] { AddSourceFolder(std::nullopt); });
}

void TForm1::bbtnNew2Click() {
    RunCommand([this] { AddDestinationFolder(std::nullopt); });
}

void TForm1::bbtnChange1Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        if (source < 0 || frmFolder == nullptr) {
            return;
        }
        const int group = NumberAt(ListBox1, source);
        std::string path;
        bool merge = false;
        bool subfolders = false;
        // Read anew, so a drive that moved opens under its new letter.
        if (!ReadFolderEntry(group, 1, path, merge, subfolders) ||
            frmFolder->ExecuteSource(QStringLiteral("Please specify the change for Source Folder "),
                                     path, subfolders) != 1) {
            return;
        }
        WriteFolderEntry(group, 1, SavedFolder(path, merge, subfolders));
        LoadSourceList();
        Select(ListBox1, source);
        ListBox1Click();
    });
}

void TForm1::bbtnDel1Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        if (source < 0) {
            return;
        }
        DeleteFolderGroup(NumberAt(ListBox1, source));
        LoadSourceList();
        Select(ListBox1, source > 0 ? source - 1 : 0);
        ListBox1Click();
    });
}

void TForm1::bbtnChange2Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        const int destination = SelectedRow(ListBox2);
        if (source < 0 || destination < 0 || frmFolder == nullptr) {
            return;
        }
        const int group = NumberAt(ListBox1, source);
        const int entry = NumberAt(ListBox2, destination);
        std::string path;
        bool merge = false;
        bool subfolders = false;
        if (!ReadFolderEntry(group, entry, path, merge, subfolders) ||
            frmFolder->ExecuteDestination(
                QStringLiteral("Please specify the change for Destination Folder"), path, merge) !=
                1) {
            return;
        }
        WriteFolderEntry(group, entry, SavedFolder(path, merge, subfolders));
        ListBox1Click();
        Select(ListBox2, destination);
        ListBox2Click();
    });
}

void TForm1::bbtnDel2Click() {
    RunCommand([this] {
        const int source = SelectedRow(ListBox1);
        const int destination = SelectedRow(ListBox2);
        if (source < 0 || destination < 0) {
            return;
        }
        DeleteFolderEntry(NumberAt(ListBox1, source), NumberAt(ListBox2, destination));
        ListBox1Click();
        Select(ListBox2, destination > 0 ? destination - 1 : 0);
        ListBox2Click();
    });
}

void TForm1::FolderDropped(QListWidget* list, const std::vector<std::string>& items) {
    if (items.size() != 1) {
        ShowMessageBox(this, BoxIcon::None, QStringLiteral("Tarnwick"),
                       QStringLiteral("Only one folder at a time"));
        return;
    }
    // Anything but an existing folder that the dialog can take is passed over without a word.
    const std::optional<std::string> folder =
        items.front().empty() ? std::nullopt : platform::ToDrivePath(items.front());
    if (!folder || folder->size() > kMaxDroppedPath || !FolderExists(*folder)) {
        return;
    }
    RunCommand([this, list, &folder] {
        if (list == ListBox1) {
            AddSourceFolder(folder);
        } else {
            AddDestinationFolder(folder);
        }
    });
}

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

void OpenHelpPage(const char* page) {
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

// --- The synchronisation run: user-interface thread --------------------------------------------

void TForm1::ShowStartButton(bool start) {
    QPushButton* shown = start ? bbtnStart : bbtnCancel;
    QPushButton* hidden = start ? bbtnCancel : bbtnStart;
    const bool hadFocus = hidden->hasFocus();
    shown->setVisible(true);
    hidden->setVisible(false);
    if (hadFocus) {
        shown->setFocus();
    }
}

void TForm1::btnStartClick() {
    if (worker_.joinable()) {
        return;
    }
    SyncErrorFlag = false;
    ShowStartButton(false);
    Progress.SourcePath.Set(std::nullopt);
    Progress.DestinationPath.Set(std::nullopt);
    Progress.FilesCopied = 0;
    // Set here rather than by the worker, so that a Cancel (or a close) that comes before the
    // worker has begun is not undone by it.
    Progress.Continue = true;
    bbtnStart->setEnabled(false);
    try {
        if (gThreadStartFails) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        worker_ = std::thread(&TForm1::SyncThread, this);
    } catch (const std::system_error&) {
        // Nothing is reported: the window stays Running until the user presses Cancel.
        bbtnStart->setEnabled(true);
    }
    if (!Timer1->isActive()) {
        Timer1->start();
    }
}

void TForm1::bbtnCancelClick() {
    Progress.Continue = false;
    ShowStartButton(true);
    Timer1->stop();
}

void TForm1::Timer1Timer() {
    if (!Progress.Continue) {
        return;
    }
    if (const auto source = Progress.SourcePath.Get()) {
        Edit1->setText(ToQt(*source));
    }
    if (const auto destination = Progress.DestinationPath.Get()) {
        Edit2->setText(ToQt(*destination));
        lblCount->setText(QString::number(Progress.FilesCopied.load()));
    }
    if (SyncErrorFlag && Form2 != nullptr && !Form2->isVisible()) {
        // Opened from the event loop rather than from inside this tick, so that the timer goes on
        // ticking behind the modal window.
        QMetaObject::invokeMethod(this, "OpenLogAfterError", Qt::QueuedConnection);
    }
}

void TForm1::TimerErrorTimer() {
    TimerError->stop();
    if (SyncErrorFlag && Form2 != nullptr && !Form2->isVisible()) {
        OpenLogAfterError();
    }
}

void TForm1::OpenLogAfterError() {
    if (Form2 != nullptr && !Form2->isVisible()) {
        Form2->exec();
    }
}

void TForm1::WorkerEnded() {
    if (worker_.joinable()) {
        worker_.join();
    }
    bbtnStart->setEnabled(true);
}

// --- Handing the worker's changes to the user-interface thread ---------------------------------

// The changes wait in a queue of our own, guarded by our own mutex, and each one is fetched by a
// queued call: they run on the user-interface thread one at a time in the order made, also when
// one of them opens a nested event loop.
void TForm1::Post(std::function<void()> change) {
    {
        const std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(change));
    }
    QMetaObject::invokeMethod(this, "DrainPosted", Qt::QueuedConnection);
}

void TForm1::DrainPosted() {
    for (;;) {
        std::function<void()> change;
        {
            const std::lock_guard lock(postedMutex_);
            if (posted_.empty()) {
                return;
            }
            change = std::move(posted_.front());
            posted_.pop_front();
        }
        change();
    }
}

// --- The synchronisation run: worker thread ----------------------------------------------------

void TForm1::SyncThread(TForm1* form) {
    try {
        form->RunSync();
    } catch (...) {
        // RunSync ends its own run on an error; this only keeps a failure while writing the end
        // lines from ending the program.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QMetaObject::invokeMethod(form, "WorkerEnded", Qt::QueuedConnection);
}

void TForm1::RunSync() {
    LogStart();
    std::int32_t total = 0;
    try {
        bool merge = false;
        bool subfolders = false;
        int group = 1;
        int entry = 1;
        std::string path;
        std::string sourcePath;
        std::string destinationPath;
        bool found = ReadFolderEntry(group, entry, path, merge, subfolders);
        while (found && Progress.Continue) {
            const bool deleted = path == kDeletedMarker;
            if (deleted && entry == 1) {
                found = false;  // the whole group is passed over
            } else if (!deleted) {
                if (entry == 1) {
                    sourcePath = path;
                } else {
                    destinationPath = path;
                    total += SyncPair(sourcePath, destinationPath, subfolders);
                    if (merge) {
                        total += SyncPair(destinationPath, sourcePath, subfolders);
                    }
                }
            }
            if (found) {
                ++entry;
                // A destination's own subfolders value is not used: the group keeps its
                // source's.
                bool destinationSubfolders = false;
                found = ReadFolderEntry(group, entry, path, merge, destinationSubfolders);
            }
            if (!found) {
                ++group;
                entry = 1;
                found = ReadFolderEntry(group, entry, path, merge, subfolders);
            }
        }
    } catch (const std::exception& error) {
        LogError(" The synchronization stopped after an unexpected error: ", error.what());
    } catch (...) {
        LogError(" The synchronization stopped after an unexpected error.");
    }
    EndRun(total);
}

std::int32_t TForm1::SyncPair(const std::string& from, const std::string& to, bool subfolders) {
    LogMessage("Synchronising from ", Quoted(from), " to ", Quoted(to));
    const std::int32_t result = SyncFolders(from, to, subfolders, Progress);
    if (result == -1) {
        LogError(" The folder ", Quoted(from), " was not found.");
    } else if (result == -2) {
        LogError(" The folder ", Quoted(to), " was not found.");
    } else if (result > 0) {
        const std::string count = std::to_string(result) + (result > 1 ? " files" : " file");
        LogMessage(count, " copied.");
        return result;
    }
    return 0;
}

void TForm1::EndRun(std::int32_t total) {
    Post([this, total] {
        Timer1->stop();
        Edit1->clear();
        Edit2->clear();
        lblCount->setText(QString::number(total));
        ShowStartButton(true);
    });
    Progress.SourcePath.Set(std::nullopt);
    Progress.DestinationPath.Set(std::nullopt);
    Progress.FilesCopied = 0;
    LogLine("");
    LogMessage("Total files copied : ", std::to_string(total), ".");
    LogLine("");
    LogEnd();
}

// --- The run log -------------------------------------------------------------------------------

void TForm1::LogLine(std::string_view text) {
    Post([this, line = std::string(text)] {
        if (LogMemo) {
            LogMemo->appendPlainText(ToQt(line));
        }
    });
}

void TForm1::LogMessage(std::string_view piece1, std::optional<std::string_view> piece2,
                        std::optional<std::string_view> piece3,
                        std::optional<std::string_view> piece4,
                        std::optional<std::string_view> piece5,
                        std::optional<std::string_view> piece6) {
    if (!piece2) {
        LogLine(piece1);
        return;
    }
    std::string line(piece1);
    for (const auto& piece : {piece2, piece3, piece4, piece5, piece6}) {
        if (piece) {
            line += *piece;
        }
    }
    LogLine(line);
}

void TForm1::LogError(std::string_view piece1, std::optional<std::string_view> piece2,
                      std::optional<std::string_view> piece3,
                      std::optional<std::string_view> piece4,
                      std::optional<std::string_view> piece5,
                      std::optional<std::string_view> piece6) {
    SyncErrorFlag = true;
    Post([this] {
        if (!TimerError->isActive()) {
            TimerError->start();
        }
        if (Form2 != nullptr) {
            Form2->setWindowTitle(QStringLiteral("Error during synchronization"));
        }
    });
    std::string head = "Error " + DateTimeText();
    head += piece1;
    LogMessage(head, piece2, piece3, piece4, piece5, piece6);
}

void TForm1::LogStart() {
    Post([this] {
        if (Form2 != nullptr) {
            Form2->setWindowTitle(QStringLiteral("Log"));
        }
        if (LogMemo) {
            LogMemo->clear();
        }
    });
    LogMessage("------------ Logging Starts ", DateTimeText(), " ------------");
}

void TForm1::LogEnd() {
    LogMessage("------------ Logging Ends   ", DateTimeText(), " ------------");
}

// --- The program's windows ---------------------------------------------------------------------

ProgramWindows::ProgramWindows() {
    // The main window's creation handling runs before the other windows exist.
    main_ = std::make_unique<TForm1>();
    Form1 = main_.get();
    frmFolder = new TfrmFolder(Form1);
    TfrmFolderBrowse = new TTfrmFolderBrowse(Form1);
    frmAbout = new TfrmAbout(Form1);
    Form2 = new TForm2(Form1);
}

ProgramWindows::~ProgramWindows() {
    main_.reset();
    Form1 = nullptr;
    frmFolder = nullptr;
    TfrmFolderBrowse = nullptr;
    frmAbout = nullptr;
    Form2 = nullptr;
}

}  // namespace tarnwick::ui
