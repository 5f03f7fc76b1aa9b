#pragma once
// Message boxes, the standard error display, and starting programs or opening documents.
// Each goes through a hook that tests can replace, so that a test can answer a modal box or see
// what would have been opened without a desktop.

#include <QString>
#include <functional>
#include <string>

class QObject;
class QWidget;

namespace tarnwick::ui {

enum class BoxIcon { None, Error };

// A modal message box with one OK button.
void ShowMessageBox(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text);

// The standard error display: an error box titled with the program's name.
void ShowErrorMessage(const QString& text);

// Opens a web address or a folder in the desktop's default application; false when it could not.
bool OpenDocument(const QString& urlOrNativePath);

// Opens a web address or a file in the desktop's default application through the desktop's
// opener, and calls `failed` on the UI thread, now or once the opener has ended, when the opener
// cannot be started or answers that it could not open it (no browser, say). `context` ends the
// watch where it goes first.
void OpenDocumentOrElse(const QString& urlOrNativePath, QObject* context,
                        std::function<void()> failed);

// The file:// URL of a native path, encoded from its bytes, so that a name that is no UTF-8 still
// leads to the right file.
QString FileUrl(const std::string& nativePath);

// Starts a program as a new, independent process (through its interpreter where the file may be
// read but not executed); false when it could not be started.
bool StartProgram(const QString& nativePath);

// Test seams. An empty function restores the real behaviour.
using MessageBoxHook = std::function<void(BoxIcon, const QString& caption, const QString& text)>;
using OpenHook = std::function<bool(const QString&)>;
void SetMessageBoxHookForTesting(MessageBoxHook hook);
void SetOpenDocumentHookForTesting(OpenHook hook);
void SetStartProgramHookForTesting(OpenHook hook);

}  // namespace tarnwick::ui
