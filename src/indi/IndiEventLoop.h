// libindi's driver event loop carried by the Qt event loop. libindidriver reads the client's
// XML on stdin through a callback it registers with its own loop, and runs its timers there;
// this executable defines that loop's functions (addCallback, addTimer, eventLoop, ...) over
// QSocketNotifier and QTimer, and the dynamic linker sends libindidriver's calls to them. So
// INDI input and timers, the webcam stream and the capture waits all share one thread and one
// loop, and a wait that pumps Qt events also takes Abort off stdin.
#pragma once

namespace lumenvale {

// Runs libindidriver's own main(): it drops privileges, reads -v, registers its stdin reader
// and then calls eventLoop(), here QCoreApplication::exec(). Returns when the loop ends; the
// library ends the process itself when the server closes stdin.
int RunIndiDriverMain(int argc, char* argv[]);

} // namespace lumenvale
