#pragma once
// A top-level window of the Windows edition that is created hidden once and shown modally: its
// owner is disabled while it is open, it runs a message loop of its own with the dialog keyboard
// (Tab between the controls, Enter and Escape as the window's commands), and a result ends it.
#include <windows.h>

namespace tarnwick::winui {

class ModalWindow {
public:
    ModalWindow() = default;
    virtual ~ModalWindow();
    ModalWindow(const ModalWindow&) = delete;
    ModalWindow& operator=(const ModalWindow&) = delete;

    HWND Handle() const { return hwnd_; }

protected:
    // Creates the hidden window, `width` × `height` and at least `minWidth` × `minHeight`, all in
    // 96-dpi units. The title bar has no system menu: the window's own buttons are the ways out.
    bool Create(HINSTANCE instance, const char* caption, HWND owner, SIZE size, SIZE minimum);

    // Shows the window centred over `owner` (the screen when none) and waits for its result:
    // 1 or 2, and 2 when the message loop ends under it.
    int RunModal(HWND owner);
    // Ends the modal loop with `result` unless CanClose refuses it.
    void EndModal(int result);

    // A child control at no particular place (Layout places it), with the window's font.
    HWND Child(const char* className, const char* text, DWORD style, int id, DWORD exStyle = 0);
    // A hint shown as a tool tip over `control`.
    void AddHint(HWND control, const char* hint);
    // Places a control at a rectangle given in 96-dpi units.
    void Place(HWND control, int left, int top, int width, int height) const;
    int Scale(int value) const;
    // The client area in 96-dpi units.
    SIZE ClientSize96() const;

    // What a window does with a message; DefWindowProc for the rest.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs once the window shows; the place for what is read anew at each opening.
    virtual void Shown() {}
    // Answers whether the window may close with `result`.
    virtual bool CanClose(int /*result*/) { return true; }
    virtual void Layout() {}
    // A message the dialog keyboard must not see (a key for an editor open inside a control).
    virtual bool BypassesDialogKeys(const MSG&) const { return false; }
    // A message the window takes before anything else sees it; true when it was handled.
    virtual bool Intercepted(const MSG&) { return false; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Center(HWND owner);

    HWND hwnd_ = nullptr;
    HWND hints_ = nullptr;
    SIZE minimum_{};
    bool modal_ = false;
    bool done_ = false;
    int result_ = 2;
};

// The system's class names of the standard controls.
inline constexpr const char* kButton = "BUTTON";
inline constexpr const char* kStatic = "STATIC";
inline constexpr const char* kEdit = "EDIT";

}  // namespace tarnwick::winui
