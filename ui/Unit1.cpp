// The main window's creation, layout, show and close handling, and the program's windows.
#include "ui/Unit1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "ui/Application.h"
#include "ui/Fabout.h"
#include "ui/Ffolder.h"
#include "ui/Ffolderbrowse.h"
#include "ui/Flog.h"
#include "ui/Forms.h"
#include "ui/Look.h"
#include "ui/Text.h"
#include "windowlogic/program.h"

namespace tarnwick::ui {

namespace {

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
    button->setIcon(VisibleIcon(parent->style()->standardIcon(picture), parent->palette()));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(Scaled(kListButtonSize), Scaled(kListButtonSize));
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QPushButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap picture,
                        const QString& caption) {
    auto* button = new QPushButton(
        VisibleIcon(parent->style()->standardIcon(picture), parent->palette()), caption, parent);
    button->setObjectName(name);
    button->setMinimumWidth(Scaled(85));
    return button;
}

// A folder list. Insert, Enter and Delete press the list's New, Change and Delete buttons, so the
// keyboard reaches the same commands as the mouse; and the keyboard focus shows on the list also
// while it has no current item to draw it on.
class FolderList : public QListWidget {
public:
    using QListWidget::QListWidget;

    void SetCommandButtons(QAbstractButton* add, QAbstractButton* change, QAbstractButton* remove) {
        add_ = add;
        change_ = change;
        remove_ = remove;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        QAbstractButton* button = nullptr;
        if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            switch (event->key()) {
                case Qt::Key_Insert:
                    button = add_;
                    break;
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    button = change_;
                    break;
                case Qt::Key_Delete:
                    button = remove_;
                    break;
                default:
                    break;
            }
        }
        if (button == nullptr) {
            QListWidget::keyPressEvent(event);
            return;
        }
        // A disabled button does nothing, and neither does its key.
        button->click();
        event->accept();
    }

    // The view makes its first item current on entry without selecting it, where Down would then
    // move past it; with nothing current, Down selects the first folder.
    void focusInEvent(QFocusEvent* event) override {
        QListWidget::focusInEvent(event);
        if (selectedItems().isEmpty()) {
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    }

    void paintEvent(QPaintEvent* event) override {
        QListWidget::paintEvent(event);
        if (!hasFocus() || currentIndex().isValid()) {
            return;
        }
        QPainter painter(viewport());
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
        option.backgroundColor = palette().color(QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }

private:
    QAbstractButton* add_ = nullptr;
    QAbstractButton* change_ = nullptr;
    QAbstractButton* remove_ = nullptr;
};

FolderList* MakeList(QWidget* parent, const char* name, const QString& heading) {
    auto* list = new FolderList(parent);
    list->setObjectName(name);
    list->setAccessibleName(heading);
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
    labels.label =
        MakeElidedLabel(parent, names[4], QStringLiteral(" "), false, Scaled(kKeptLabel));
    // The sentence is never shortened while the window can widen for it
    // (TForm1::ShowFolderDetails).
    labels.type = MakeElidedLabel(parent, names[5], QStringLiteral(" "), false,
                                  std::numeric_limits<int>::max());
    labels.type->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labels.serial->setAccessibleDescription(QStringLiteral("Serial number of the disk"));
    labels.label->setAccessibleDescription(QStringLiteral("Label of the disk"));
    labels.type->setAccessibleDescription(QStringLiteral("Kind of drive"));
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

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Tarnwick"));
    resize(Scaled(QSize(524, 462)));
    setMinimumSize(Scaled(QSize(300, 300)));

    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    File1->setObjectName("File1");
    Copythisapplicatio1 =
        File1->addAction(QStringLiteral("&Copy and Run this application from a removable device"));
    Copythisapplicatio1->setObjectName("Copythisapplicatio1");
    Copythisapplicatio1->setStatusTip(
        QStringLiteral("Select a folder on a removable device, copy this application to it and "
                       "then run it from there."));
    Log1 = File1->addAction(QStringLiteral("&Log"));
    Log1->setObjectName("Log1");
    Exit1 = File1->addAction(QStringLiteral("&Exit"));
    Exit1->setObjectName("Exit1");
    Exit1->setStatusTip(QStringLiteral("Close this application"));

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName("Help1");
    Gettingstarted1 = Help1->addAction(QStringLiteral("&Getting started"));
    Gettingstarted1->setObjectName("Gettingstarted1");
    OnlineHelp1 = Help1->addAction(QStringLiteral("&Online documentation"));
    OnlineHelp1->setObjectName("OnlineHelp1");
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
    lblComputer->setAccessibleDescription(QStringLiteral("Computer"));
    auto* sources = MakeList(central, "ListBox1", QStringLiteral("Source folders"));
    ListBox1 = sources;
    QHBoxLayout* details1 =
        DetailsLine(central, {"Label9", "lblSerial1", "Label10", "Label8", "lblLabel1", "lblType1"},
                    {Label9, lblSerial1, Label10, Label8, lblLabel1, lblType1});

    Label5 = MakeElidedLabel(central, "Label5", QStringLiteral("Destination folders:"), true);
    auto* destinations = MakeList(central, "ListBox2", QStringLiteral("Destination folders"));
    ListBox2 = destinations;
    QHBoxLayout* details2 = DetailsLine(
        central, {"Label11", "lblSerial2", "Label12", "Label13", "lblLabel2", "lblType2"},
        {Label11, lblSerial2, Label12, Label13, lblLabel2, lblType2});

    PanelButtons = new QWidget(central);
    PanelButtons->setObjectName("PanelButtons");
    PanelButtons->setFixedWidth(Scaled(kListButtonSize + 8));
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
    sources->SetCommandButtons(bbtnNew1, bbtnChange1, bbtnDel1);
    destinations->SetCommandButtons(bbtnNew2, bbtnChange2, bbtnDel2);

    // The progress fields are 50 pixels narrower than their panel: 45 for the captions, 5 to
    // the right.
    PanelEdit = new QWidget(central);
    PanelEdit->setObjectName("PanelEdit");
    Label2 = MakeLabel(PanelEdit, "Label2", QStringLiteral("From:"));
    Label4 = MakeLabel(PanelEdit, "Label4", QStringLiteral("To:"));
    // Read-only progress: shown to screen readers by name, passed over by Tab.
    Edit1 = new QLineEdit(PanelEdit);
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit1->setFocusPolicy(Qt::NoFocus);
    Edit1->setAccessibleName(QStringLiteral("From"));
    Edit2 = new QLineEdit(PanelEdit);
    Edit2->setObjectName("Edit2");
    Edit2->setReadOnly(true);
    Edit2->setFocusPolicy(Qt::NoFocus);
    Edit2->setAccessibleName(QStringLiteral("To"));
    auto* edits = new QGridLayout(PanelEdit);
    edits->setContentsMargins(0, 0, 5, 0);
    edits->setHorizontalSpacing(0);
    edits->setVerticalSpacing(4);
    edits->setColumnMinimumWidth(0, Scaled(45));
    edits->addWidget(Label2, 0, 0);
    edits->addWidget(Edit1, 0, 1);
    edits->addWidget(Label4, 1, 0);
    edits->addWidget(Edit2, 1, 1);
    const int captionWidth =
        std::max({Scaled(45), Label2->sizeHint().width(), Label4->sizeHint().width()});
    Label2->setFixedWidth(captionWidth);
    Label4->setFixedWidth(captionWidth);

    Label6 = MakeElidedLabel(central, "Label6", QStringLiteral("Synchronized files: "));
    lblCount = MakeLabel(central, "lblCount", QStringLiteral("000000"));
    lblCount->setAccessibleDescription(QStringLiteral("Synchronized files"));
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
    Timer1->setInterval(windowlogic::kProgressMilliseconds);
    TimerError = new QTimer(this);
    TimerError->setObjectName("TimerError");
    TimerError->setInterval(windowlogic::kErrorMilliseconds);

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

    // Tab goes from each list to its own buttons, then on to the run's buttons.
    const std::array<QWidget*, 11> tabOrder = {ListBox1,  bbtnNew1,   bbtnChange1, bbtnDel1,
                                               ListBox2,  bbtnNew2,   bbtnChange2, bbtnDel2,
                                               bbtnStart, bbtnCancel, bbtnClose};
    for (std::size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }

    InstallFolderDrops();

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
            top += button->height() + Scaled(kListButtonGap);
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
    setWindowTitle(ToQt(windowlogic::MainCaption(windowlogic::SplitExecutablePath())));
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    // A worker held by a volume that stopped answering does not keep the program open, nor its
    // windows on the screen while it is given its two seconds to finish a file.
    const bool running = worker_.joinable();
    if (running) {
        HideAllWindows();
    }
    const bool displayClosed = running && CloseDisplayConnection();
    StopRunAndWait(std::chrono::seconds(2));
    if (displayClosed) {
        // The worker finished in time; without a display the event loop has nothing left to do.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    QMainWindow::closeEvent(event);
    if (running) {
        // The window was hidden before its close: the application is told to end.
        QCoreApplication::quit();
    }
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
