#pragma once
// A modal dialog without a system menu whose own buttons are the ways out: it closes with 1
// (Save) or 2 (everything else, Escape too), Enter presses its default button where it has one,
// and each opening runs FormShow. Its controls are placed to the pixel, for an 11-pixel font, and
// grow with a larger desktop font (Look.h).

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
};

// A push button with a standard image (none for QStyle::SP_CustomBase) and a hint shown as its
// tool tip; a button without a caption is named by its hint for screen readers. While it has the
// focus, Enter presses it. It keeps its place and is widened where the user's font needs more room
// than `geometry` gives.
QPushButton* MakeGlyphButton(QWidget* parent, const char* name, QStyle::StandardPixmap image,
                             const QString& caption, const QString& hint, const QRect& geometry);

}  // namespace tarnwick::ui
