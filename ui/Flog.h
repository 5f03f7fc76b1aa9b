#pragma once
// The log window: shows the run log. Its caption and lines are written by the main window.

#include "ui/ModalDialog.h"

class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace tarnwick::ui {

class TForm2 : public TModalDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QWidget* Panel1;
    QWidget* Panel2;
    QPushButton* Button1;
    QWidget* Panel3;
    QWidget* Panel4;
    QPlainTextEdit* Memo1;

    void Button1Click();

    // Centres the window over the main window.
    void FormShow() override;
    bool FormClose(int modalResult) override;
};

}  // namespace tarnwick::ui
