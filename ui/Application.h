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

}  // namespace tarnwick::ui
