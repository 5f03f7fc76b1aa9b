#pragma once
// The frame every window of the Windows edition shares: a top-level window of one registered
// class whose messages reach a C++ object, and the modal showing of a window over its owner.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <string>
#include <string_view>

namespace tarnwick::winui {

class Form {
public:
    Form() = default;
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND Handle() const { return window_; }
    bool Visible() const { return window_ != nullptr && IsWindowVisible(window_) != FALSE; }
    void SetCaption(std::string_view caption);

    // Shows the window modally over its owner (disabled meanwhile) until EndModal; answers the
    // modal result. Messages of every window go on being handled meanwhile, the owner's timers
    // too.
    int ShowModal();
    void EndModal(int result);

protected:
    // Creates the window, hidden; the messages arrive at HandleMessage from WM_NCCREATE on.
    void CreateForm(HINSTANCE instance, HWND owner, const char* caption, DWORD style,
                    DWORD exStyle, int clientWidth, int clientHeight);
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Each modal opening, before the window shows.
    virtual void FormShow() {}
    // A message of the modal loop before the dialog keys handle it; true when it was taken.
    virtual bool PreTranslate(const MSG& /*message*/) { return false; }
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
        return DefWindowProcA(window_, message, wParam, lParam);
    }
    // Centres the window over its owner (or the desktop's work area where it has none).
    void CentreOverOwner();

    HWND window_ = nullptr;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    bool modal_ = false;
    int modalResult_ = 0;
};

// A child control of `parent` with a designer name's identifier, in the dialog font.
HWND MakeControl(HWND parent, const char* className, const char* text, DWORD style, int id,
                 DWORD exStyle = 0);

// The text of a window.
std::string WindowText(HWND window);

// The text of a tree-view node.
std::string TreeNodeText(HWND tree, HTREEITEM node);

// The width of `text` in the font of `window`, in pixels.
int TextWidth(HWND window, std::string_view text);

}  // namespace tarnwick::winui
