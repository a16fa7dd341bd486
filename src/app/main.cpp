// Lumenvale: long exposures with a modified webcam whose exposure lines hang on the
// parallel port.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumenvale"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Lumenvale"));
    window.resize(663, 500);
    window.show();
    return QApplication::exec();
}
