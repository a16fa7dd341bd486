// Lumenvale: long exposures with a modified webcam whose exposure lines hang on the
// parallel port.
#include "app/SystemServices.h"
#include "ui/Program.h"
#include "ui/QtFileDialogs.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumenvale"));
    lumenvale::SystemServices system;
    lumenvale::QtFileDialogs dialogs;
    lumenvale::Program program(system.services(), dialogs);
    program.show();
    return QApplication::exec();
}
