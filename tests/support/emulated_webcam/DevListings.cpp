// Adding the emulated nodes to the /dev listings.
#include "DevListings.h"

#include "EmulatedCamera.h"
#include "RealCalls.h"

#include <sys/stat.h>

#include <cstring>

namespace lumenvale::emulated {

namespace {

static_assert(sizeof(dirent) == sizeof(dirent64), "one entry serves both listings");

bool isDev(int fd) {
    struct stat dev {};
    struct stat listed {};
    return fd >= 0 && RealCalls::get().stat("/dev", &dev) == 0 && fstat(fd, &listed) == 0 &&
           dev.st_dev == listed.st_dev && dev.st_ino == listed.st_ino;
}

bool cameraPresent() {
    return EmulatedCamera::instance().present(Node::Video);
}

} // namespace

void DevListings::track(DIR* dir) {
    if (dir == nullptr || !isDev(dirfd(dir))) {
        return;
    }
    const std::lock_guard lock(mutex_);
    listings_[dir] = Listing{};
}

void DevListings::forget(DIR* dir) {
    const std::lock_guard lock(mutex_);
    listings_.erase(dir);
}

void DevListings::rewind(DIR* dir) {
    const std::lock_guard lock(mutex_);
    if (const auto found = listings_.find(dir); found != listings_.end()) {
        found->second = Listing{};
    }
}

dirent* DevListings::next(DIR* dir, dirent* (*realNext)(DIR*)) {
    return nextEntry(dir, realNext);
}

dirent64* DevListings::next(DIR* dir, dirent64* (*realNext)(DIR*)) {
    return nextEntry(dir, realNext);
}

template <typename Entry> Entry* DevListings::nextEntry(DIR* dir, Entry* (*realNext)(DIR*)) {
    {
        const std::lock_guard lock(mutex_);
        if (listings_.find(dir) == listings_.end()) {
            return realNext(dir);
        }
    }
    for (;;) {
        Entry* entry = realNext(dir);
        const bool present = cameraPresent();
        const std::lock_guard lock(mutex_);
        Listing& listing = listings_[dir];
        if (entry == nullptr) {
            if (!present) {
                listing.addedVideo = true;
            }
            return static_cast<Entry*>(added(listing));
        }
        if (std::strcmp(entry->d_name, "video0") == 0) {
            if (!present) {
                continue;
            }
            listing.sawVideo = true;
        }
        if (std::strcmp(entry->d_name, "parport0") == 0) {
            listing.sawPort = true;
        }
        return entry;
    }
}

void* DevListings::added(Listing& listing) {
    const auto entry = [&](const char* name) {
        listing.entry = dirent64{};
        listing.entry.d_type = DT_CHR;
        listing.entry.d_reclen = sizeof listing.entry;
        std::strncpy(listing.entry.d_name, name, sizeof listing.entry.d_name - 1);
        return &listing.entry;
    };
    if (!listing.sawVideo && !listing.addedVideo) {
        listing.addedVideo = true;
        return entry("video0");
    }
    if (!listing.sawPort && !listing.addedPort) {
        listing.addedPort = true;
        return entry("parport0");
    }
    return nullptr;
}

} // namespace lumenvale::emulated
