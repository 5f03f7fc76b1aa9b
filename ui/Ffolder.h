#pragma once
// The folder dialog: one folder of a group with its disk information and, for a
// source, whether subfolders take part or, for a destination, whether it is Merge or Backup.

#include <QString>
#include <cstdint>
#include <string>

#include "ui/Background.h"
#include "ui/ModalDialog.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tarnwick::ui {

class TfrmFolder : public TModalDialog {
    Q_OBJECT
public:
    explicit TfrmFolder(QWidget* parent = nullptr);

    // Open the dialog modally. After Save (result 1) `path` and the flag hold what the user chose,
    // and `DriveType` and `lblSerial` describe that path's drive; after Close (result 2) both
    // stay as they were. An empty caption shows "Specify folder".
    int ExecuteSource(const QString& caption, std::string& path, bool& subfolders);
    int ExecuteDestination(const QString& caption, std::string& path, bool& merge);

    // Asks for the disk information of a non-empty path off this thread (its volume may have
    // stopped answering). The labels keep what they show until the answer comes; then it goes into
    // the labels, `DriveType` and the Save button, unless the path was changed meanwhile. Save
    // stays disabled until then.
    void ReadDiskInfo(const std::string& path);
    // True while the disk information of the path as it is typed has not come yet.
    bool DiskInfoPending() const { return answered_ != asked_; }

    // Event handlers.
    void Timer1Timer();
    void Edit1Change();
    void FormShow() override;
    // Close validation: answers whether the dialog may close with this result.
    bool FormClose(int modalResult) override;
    void FormResize();
    void btnBrowseClick();
    void RadioGroup1Click();
    void chkSubfoldersClick();

    // Index of the selected folder type: 0 Merge, 1 Backup, -1 none.
    int RadioGroup1ItemIndex() const;

    // Drive type (0..6) found by the last refresh of the disk information; 0 for an empty path.
    int DriveType = 0;
    // True while "Merge" is the selected folder type.
    bool Merge = false;

    QWidget* PanelEdit;
    QLineEdit* Edit1;
    QWidget* PanelBrowse;
    QPushButton* btnBrowse;
    QGroupBox* GroupBox1;
    QLabel* Label3;
    QLabel* lblLabel;
    QLabel* Label2;
    QLabel* lblSerial;
    QFrame* Panel3;
    QLabel* lblType;
    QGroupBox* RadioGroup1;
    QRadioButton* RadioGroup1Merge;
    QRadioButton* RadioGroup1Backup;
    QButtonGroup* RadioGroup1Items;
    QCheckBox* chkSubfolders;
    QFrame* Panel1;
    QLabel* lblRadioText;
    QPushButton* bbtnVista;
    QPushButton* bbtnClose;
    QTimer* Timer1;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int Execute(const QString& caption, std::string& path);
    // Puts a path into Edit1 without cutting it at the field's length limit.
    void SetPathText(const QString& text);
    // Turns a native path or a file:// URL in Edit1 into its drive path.
    void AcceptNativePath();

    // The last question about the disk information, and the one whose answer is shown. A change
    // of the path counts as a question, so that an answer for an earlier text is dropped.
    std::uint64_t asked_ = 0;
    std::uint64_t answered_ = 0;
    // Whether the answer shown allows a Save of the path it was asked for.
    bool saveAccepted_ = false;
    BackgroundQuestions questions_{this};
};

}  // namespace tarnwick::ui
