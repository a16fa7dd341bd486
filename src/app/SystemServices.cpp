// Wiring of the real services.
#include "app/SystemServices.h"

namespace lumenvale {

namespace {

AcquisitionOptions WithLineCalls(LineCalls& calls) {
    AcquisitionOptions options;
    options.lineCalls = &calls;
    return options;
}

} // namespace

SystemServices::SystemServices()
    : lineCalls_{ppdev_, hid_, ftdi_, gpio_},
      // The Control window opens whichever adapter is chosen when it opens.
      port_(lines_, clock_, lineCalls_, [this] { return acquisition_.config().lines; }),
      acquisition_(lines_, clock_, v4l2_, WithLineCalls(lineCalls_)),
      services_{clock_, lines_, port_, timers_, keys_, pump_, messages_, files_, acquisition_} {}

} // namespace lumenvale
