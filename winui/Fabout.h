#pragma once
// The About window (frmAbout): fixed texts and the version read from the executable each time it
// is shown.
#include "winui/Form.h"

namespace tarnwick::winui {

class TfrmAbout : public Form {
public:
    enum : int {
        IDC_Panel1 = 301,
        IDC_Image1,
        IDC_ProductName,
        IDC_Label4,
        IDC_Label3,
        IDC_lblVersion,
        IDC_RightsNotice,
        IDC_Label2,
        IDC_Comments,
        IDC_Label1,
        IDC_Label8,
        IDC_Label9,
        IDC_Label10,
        IDC_Panel2,
        IDC_Label5,
        IDC_GroupBox1,
        IDC_Label6,
        IDC_Edit1,
        IDC_Label7,
        IDC_Edit2,
        IDC_bbtnOk,
    };

    TfrmAbout(HINSTANCE instance, HWND owner);
    ~TfrmAbout() override;

    HWND lblVersion = nullptr;
    HWND Label9 = nullptr;
    HWND bbtnOk = nullptr;

protected:
    void FormShow() override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Place();
    HFONT large_ = nullptr;
};

}  // namespace tarnwick::winui
