// The program's version, as the About > Version message tells it.
#include "ui/ProgramVersion.h"

namespace lumenvale {

QString ProgramVersionMessage() {
    // The number comes from the project's build description, so it cannot drift from it.
    return QStringLiteral("Lumenvale version " LUMENVALE_VERSION "\n"
                          "Long exposures with a modified webcam.");
}

} // namespace lumenvale
