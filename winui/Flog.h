#pragma once
// The log window (Form2): the run log in a read-only text, and OK, the only way out.
#include "winui/Form.h"

namespace tarnwick::winui {

class TForm2 : public Form {
public:
    enum : int { IDC_Memo1 = 201, IDC_Button1 };

    TForm2(HINSTANCE instance, HWND owner);

    HWND Memo1 = nullptr;
    HWND Button1 = nullptr;

    // The run log's two writes: empty it, and append one line at its end.
    void ClearLines();
    void AppendLine(std::string_view line);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslate(const MSG& message) override;

private:
    void FormResize();
    bool empty_ = true;
};

}  // namespace tarnwick::winui
