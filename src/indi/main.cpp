// indi_lumenvale_ccd: the camera as an INDI device, started by indiserver.
#include "indi/IndiEventLoop.h"
#include "indi/LumenvaleCcd.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    lumenvale::LumenvaleCcd driver;
    return lumenvale::RunIndiDriverMain(argc, argv);
}
