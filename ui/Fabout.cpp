#include "ui/Fabout.h"

#include <algorithm>

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "ui/Look.h"
#include "ui/Text.h"
#include "windowlogic/about.h"

namespace tarnwick::ui {

QString VersionText() {
    return ToQt(windowlogic::VersionText());
}

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(Scaled(left), Scaled(top));
    label->adjustSize();
    return label;
}

// The window's places were laid out for a small sans serif of 11 pixels with narrow letters. A
// desktop's usual sans is wider and taller and runs the labels into their neighbours, so the window
// brings its own font: a semi-condensed sans serif at 11 pixels, grown with the places where the
// desktop's font is larger. Where no family on the list has
// such a face, the toolkit narrows the regular face to the same width, so the texts fit on any
// desktop.
QFont AboutFont(const QFont& base) {
    QFont font = base;
    font.setFamilies(
        {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"), base.family()});
    font.setPixelSize(ScaledFontPixels(11));
    font.setStretch(QFont::SemiCondensed);
    return font;
}

// Puts a word-wrapping label at its designed place and size. Should its text need more lines than
// the designed height holds at the font in use, the label first widens, as little as it must and
// no further than `maxWidth`, and only then grows downwards, so that the label itself cuts no line
// in half.
void PlaceWrapped(QLabel* label, const QRect& designed, int maxWidth) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    int width = designed.width();
    while (width < maxWidth && label->heightForWidth(width) > designed.height()) {
        ++width;
    }
    if (label->heightForWidth(width) > designed.height()) {
        width = designed.width();
    }
    label->setGeometry(designed.x(), designed.y(), width,
                       std::max(designed.height(), label->heightForWidth(width)));
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setGeometry(Scaled(geometry));
    // A raised inner and a lowered outer bevel: an etched frame.
    panel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setMidLineWidth(0);
    return panel;
}

QLineEdit* MakeReadOnlyField(QWidget* parent, const char* name, const QString& text,
                             const QRect& geometry) {
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(name);
    field->setGeometry(Scaled(geometry));
    field->setReadOnly(true);
    field->setFrame(true);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    field->setPalette(palette);
    return field;
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : TModalDialog(parent) {
    setObjectName("frmAbout");
    setWindowTitle(QStringLiteral("About"));
    // A fixed dialog border with the system menu: a close button, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(Scaled(QSize(329, 373)));
    setFont(AboutFont(font()));

    Panel1 = MakePanel(this, "Panel1", {8, 8, 305, 185});
    Image1 = new QLabel(Panel1);
    Image1->setObjectName("Image1");
    Image1->setGeometry(Scaled(QRect(32, 16, 32, 32)));
    Image1->setPixmap(
        VisibleIcon(style()->standardIcon(QStyle::SP_BrowserReload), palette()).pixmap(32, 32));

    ProductName = MakeLabel(Panel1, "ProductName", QStringLiteral("Tarnwick"), 72, 16);
    QFont large = ProductName->font();
    large.setPixelSize(ScaledFontPixels(19));
    ProductName->setFont(large);
    ProductName->adjustSize();

    // "2010", "Version" and the version text read as one line.
    Label4 = MakeLabel(Panel1, "Label4", QStringLiteral("2010"), 80, 40);
    Label3 = MakeLabel(Panel1, "Label3", QStringLiteral("Version"), 108, 40);
    lblVersion = MakeLabel(Panel1, "lblVersion", QStringLiteral("1.0"), 145, 40);
    lblVersion->resize(Scaled(300) - lblVersion->x(), lblVersion->height());

    RightsNotice =
        MakeLabel(Panel1, "RightsNotice", QStringLiteral("All rights reserved."), 72, 64);
    Label2 = MakeLabel(Panel1, "Label2", QStringLiteral("The Tarnwick developers"), 88, 80);
    Comments = MakeLabel(Panel1, "Comments", QStringLiteral("Phone: not published"), 88, 96);
    Label1 = MakeLabel(Panel1, "Label1", QStringLiteral("Mobile: not published"), 88, 112);
    Label8 = MakeLabel(Panel1, "Label8", QStringLiteral("E-mail: not published"), 88, 128);

    Label9 = new QLabel(QStringLiteral("When using Tarnwick, Always make sure your Windows system "
                                       "date and time are up-to-date."),
                        Panel1);
    Label9->setObjectName("Label9");
    // Either note may widen up to the margin on its left mirrored on its right.
    PlaceWrapped(Label9, Scaled(QRect(24, 152, 229, 26)), Panel1->width() - 2 * Scaled(24));
    // Blue, lightened where the desktop's palette is dark.
    QPalette blue = Label9->palette();
    blue.setColor(QPalette::WindowText, ReadableOn(QColor(Qt::blue), blue.color(QPalette::Window)));
    Label9->setPalette(blue);

    Label10 = new QLabel(QStringLiteral("Use at your own risk."), Panel1);
    Label10->setObjectName("Label10");
    Label10->setWordWrap(true);
    Label10->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label10->setGeometry(Scaled(QRect(158, 2, 137, 14)));

    Panel2 = MakePanel(this, "Panel2", {8, 191, 305, 138});
    Label5 = new QLabel(QStringLiteral("If Tarnwick is useful to you, please consider a small "
                                       "donation to keep it going."),
                        Panel2);
    Label5->setObjectName("Label5");
    PlaceWrapped(Label5, Scaled(QRect(24, 8, 253, 26)), Panel2->width() - 2 * Scaled(24));

    GroupBox1 = new QGroupBox(QStringLiteral("Bank account Information"), Panel2);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(Scaled(QRect(16, 48, 273, 73)));
    Label6 = MakeLabel(GroupBox1, "Label6", QStringLiteral("SWIFT (BIC):"), 8, 24);
    Label7 = MakeLabel(GroupBox1, "Label7", QStringLiteral("IBAN Number:"), 8, 51);
    Edit1 =
        MakeReadOnlyField(GroupBox1, "Edit1", QStringLiteral("not published"), {80, 24, 185, 21});
    Edit2 =
        MakeReadOnlyField(GroupBox1, "Edit2", QStringLiteral("not published"), {80, 48, 185, 21});
    Edit1->setAccessibleName(QStringLiteral("SWIFT"));
    Edit2->setAccessibleName(QStringLiteral("IBAN"));
    Image1->setAccessibleName(QStringLiteral("Tarnwick"));

    bbtnOk =
        new QPushButton(VisibleIcon(style()->standardIcon(QStyle::SP_DialogCloseButton), palette()),
                        QStringLiteral("&Close"), this);
    bbtnOk->setObjectName("bbtnOk");
    bbtnOk->setGeometry(Scaled(QRect(127, 336, 75, 25)));
    // Enter presses it; Escape closes the window as the title bar's close button does.
    bbtnOk->setDefault(true);
    connect(bbtnOk, &QPushButton::clicked, this, [this] { done(1); });
}

void TfrmAbout::FormShow() {
    lblVersion->setText(VersionText());
}

// Any way of closing is accepted; the title bar's close button and Alt+F4 give 2.
bool TfrmAbout::FormClose(int /*modalResult*/) {
    return true;
}

}  // namespace tarnwick::ui
