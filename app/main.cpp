#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Tarnwick");
    window.resize(524, 462);
    window.show();
    return app.exec();
}
