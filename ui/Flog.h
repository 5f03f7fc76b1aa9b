#pragma once
// The log window: shows the run log. Its caption and lines are written by the main window.

#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace tarnwick::ui {

class TForm2 : public QDialog {
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

    // The window has no cancel button: Escape does nothing, any other way of closing gives 2.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

}  // namespace tarnwick::ui
