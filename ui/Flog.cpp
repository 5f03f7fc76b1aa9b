#include "ui/Flog.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Forms.h"
#include "ui/Look.h"
#include "ui/Unit1.h"

namespace tarnwick::ui {

namespace {

QWidget* MakeMargin(QWidget* parent, const char* name) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : TModalDialog(parent) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("Log"));
    // No system menu (the base's window flags): "OK" is the way out. The log keeps the
    // desktop's own font rather than the dialogs' compact one.
    setFont(QFont());
    resize(Scaled(QSize(472, 297)));

    Panel1 = MakeMargin(this, "Panel1");
    Panel1->setFixedHeight(Scaled(25));
    Panel2 = MakeMargin(this, "Panel2");
    Panel2->setFixedHeight(Scaled(39));
    Panel3 = MakeMargin(this, "Panel3");
    Panel3->setFixedWidth(Scaled(25));
    Panel4 = MakeMargin(this, "Panel4");
    Panel4->setFixedWidth(Scaled(25));

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Memo1->setPalette(palette);
    Memo1->setPlainText(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(QStringLiteral("Log"));
    // Tab leaves the text for the button, and Enter in the text presses OK.
    Memo1->setTabChangesFocus(true);

    // The button keeps its designed place in the button row when the window is resized.
    Button1 = new QPushButton(QStringLiteral("&OK"), Panel2);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button1->setGeometry(Scaled(QRect(194, 7, 75, 25)));
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    middle->addWidget(Panel4);
    middle->addWidget(Memo1, 1);
    middle->addWidget(Panel3);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addLayout(middle, 1);
    layout->addWidget(Panel2);
}

void TForm2::Button1Click() {
    done(2);
}

void TForm2::FormShow() {
    if (Form1 != nullptr) {
        const QWidget* main = Form1;
        move(pos() + main->frameGeometry().center() - frameGeometry().center());
    }
}

// Every way of closing gives 2.
bool TForm2::FormClose(int /*modalResult*/) {
    return true;
}

}  // namespace tarnwick::ui
