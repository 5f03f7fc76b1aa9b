#include "ui/Application.h"

#include <exception>

#include "ui/Shell.h"
#include "ui/Text.h"

namespace tarnwick::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorMessage(ToQt(error.what()));
    } catch (...) {
        ShowErrorMessage(QStringLiteral("Unexpected error"));
    }
    return false;
}

}  // namespace tarnwick::ui
