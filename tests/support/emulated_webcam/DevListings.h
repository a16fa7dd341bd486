// The /dev listings in progress: video0 and parport0 are added at the end of each, unless the
// directory has them already, and a real video0 is hidden while the camera is unplugged.
#pragma once

#include <dirent.h>

#include <map>
#include <mutex>

namespace lumenvale::emulated {

class DevListings {
public:
    // Starts following `dir` when it lists /dev.
    void track(DIR* dir);
    void forget(DIR* dir);
    void rewind(DIR* dir);
    // The next entry of `dir`, read with the C library's `realNext`.
    dirent* next(DIR* dir, dirent* (*realNext)(DIR*));
    dirent64* next(DIR* dir, dirent64* (*realNext)(DIR*));

private:
    struct Listing {
        bool sawVideo = false;
        bool sawPort = false;
        bool addedVideo = false;
        bool addedPort = false;
        dirent64 entry{};
    };

    template <typename Entry> Entry* nextEntry(DIR* dir, Entry* (*realNext)(DIR*));
    static void* added(Listing& listing);

    std::mutex mutex_;
    std::map<DIR*, Listing> listings_;
};

} // namespace lumenvale::emulated
