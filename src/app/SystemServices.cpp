// Wiring of the real services.
#include "app/SystemServices.h"

namespace lumenvale {

SystemServices::SystemServices()
    : port_(lines_, clock_, ppdev_),
      acquisition_(lines_, clock_, v4l2_), services_{clock_, lines_,    port_,  timers_,     keys_,
                                                     pump_,  messages_, files_, acquisition_} {}

} // namespace lumenvale
