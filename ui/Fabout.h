#pragma once
// The About window: product, year, the running executable's version, contact and donation notes.

#include <QString>

#include "ui/ModalDialog.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnwick::ui {

// The file version of the running executable as "major.minor.release.build"; the empty text when
// the executable has no version record or cannot be read.
QString VersionText();

class TfrmAbout : public TModalDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Image1;
    QLabel* ProductName;
    QLabel* Label4;
    QLabel* Label3;
    QLabel* lblVersion;
    QLabel* RightsNotice;
    QLabel* Label2;
    QLabel* Comments;
    QLabel* Label1;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QFrame* Panel2;
    QLabel* Label5;
    QGroupBox* GroupBox1;
    QLabel* Label6;
    QLineEdit* Edit1;
    QLabel* Label7;
    QLineEdit* Edit2;
    QPushButton* bbtnOk;

    void FormShow() override;
    bool FormClose(int modalResult) override;
};

}  // namespace tarnwick::ui
