#pragma once
// A modal dialog without a system menu whose own buttons are the ways out: it closes with 1
// (Save) or 2 (everything else), Enter and Escape close nothing, and each opening runs FormShow.
// Its controls are placed to the pixel, for an 11-pixel font.

#include <QDialog>
#include <QRect>
#include <QStyle>

class QPushButton;

namespace tarnwick::ui {

class TModalDialog : public QDialog {
    Q_OBJECT
public:
    explicit TModalDialog(QWidget* parent = nullptr);

    virtual void FormShow() = 0;
    // Runs whenever the dialog is about to close with `modalResult` (1 or 2); answers whether it
    // may close.
    virtual bool FormClose(int modalResult) = 0;

    void done(int result) override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A push button with a standard image (none for QStyle::SP_CustomBase), a hint shown as its tool
// tip, never the default button. It keeps its place and is widened where the user's font needs
// more room than `geometry` gives.
QPushButton* MakeGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap image,
                             const QString& caption, const QString& hint, const QRect& geometry);

}  // namespace tarnwick::ui
