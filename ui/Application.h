#pragma once
// The application object. An exception that escapes an event handler is shown by the standard
// error display and the event loop carries on.

#include <QApplication>

namespace tarnwick::ui {

class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Takes every window of the program off the screen at once. A worker that a volume holds inside
// the kernel keeps the process alive until the volume lets go, and nothing the user sees may
// wait for it.
void HideAllWindows();

// Ends the connection to the display server, which then takes away whatever this program still
// showed, so that a worker the kernel holds keeps neither (the process, and every descriptor it
// has, lasts until the kernel lets the worker go). Answers whether there was a connection to end;
// after it the event loop must not run again.
bool CloseDisplayConnection();

}  // namespace tarnwick::ui
