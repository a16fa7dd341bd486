// Starting a benchmark again with the tests' emulated webcam preloaded, for its webcam cases.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace lumenvale::bench {

// The emulated webcam must be preloaded before any library of ours opens a device: when it is
// not yet, the program starts itself again with it (and this call does not return). Built
// without the emulator, it does nothing.
inline void PreloadEmulatedWebcam([[maybe_unused]] char** argv) {
#ifdef LUMENVALE_EMULATED_WEBCAM
    if (dlsym(RTLD_DEFAULT, "emucam_configure") == nullptr &&
        std::filesystem::exists(LUMENVALE_EMULATED_WEBCAM) && getenv("LD_PRELOAD") == nullptr) {
        setenv("LD_PRELOAD", LUMENVALE_EMULATED_WEBCAM, 1);
        execv("/proc/self/exe", argv);
    }
#endif
}

} // namespace lumenvale::bench
