// The program's windows and its display connection at the end of the program. Apart from the
// rest: Xlib's header defines macros that clash with ordinary names.
#include <QtGui/qguiapplication_platform.h>
#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include "ui/Application.h"

// After the Qt headers, whose names its macros would replace.
#include <X11/Xlib.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace tarnwick::ui {

namespace {

xcb_connection_t* X11Connection() {
    const auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const auto* x11 =
        application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

}  // namespace

void HideAllWindows() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        window->hide();
    }
    // The requests must reach the server now: the caller waits next, without an event loop.
    if (xcb_connection_t* connection = X11Connection()) {
        xcb_flush(connection);
    }
}

bool CloseDisplayConnection() {
    xcb_connection_t* const connection = X11Connection();
    if (connection == nullptr) {
        return false;
    }
    xcb_flush(connection);
    // Xlib's answer to a lost connection is exit(1) from whichever thread meets it, which would
    // end the process with a failure and run its destructors under the worker's feet: a thread of
    // Qt's that meets it waits instead, until the program ends the process itself. The main
    // thread draws nothing after this; should it meet it all the same, it ends the program.
    XSetIOErrorHandler([](Display*) -> int {
        if (::gettid() == ::getpid()) {
            std::_Exit(0);
        }
        for (;;) {
            ::pause();
        }
    });
    // Shut down rather than closed: Qt's own reader thread still holds the descriptor.
    ::shutdown(xcb_get_file_descriptor(connection), SHUT_RDWR);
    return true;
}

}  // namespace tarnwick::ui
