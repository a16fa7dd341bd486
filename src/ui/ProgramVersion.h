// The program's version, as the About > Version message tells it.
#pragma once

#include <QString>

namespace lumenvale {

// "Lumenvale version x.y.z" and a line on what the program does.
QString ProgramVersionMessage();

} // namespace lumenvale
