// Two clients of the driver on libindi's own client library, as Ekos and PHD2 beside it: the
// first takes a sequence of three 1 s frames; during the second exposure the other connects,
// asks for every property and disconnects. The first must get its three frames, and no
// message and no property in Alert from the start of its sequence on.
//
// Usage: lumenvale-indi-two-clients PORT   (the driver connected, on the camera it is set to)
// Exit status 0 when so; else what went wrong on stdout.
#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* Device = "Lumenvale CCD";
constexpr auto Deadline = std::chrono::seconds(30);

class Client : public INDI::BaseClient {
public:
    explicit Client(int port) {
        setServer("127.0.0.1", unsigned(port));
        watchDevice(Device);
    }

    // Waits for `done` (read under the client's lock); false at the deadline.
    bool waitFor(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, Deadline, done);
    }
    std::size_t definedCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return defined.size();
    }
    void watch() {
        std::lock_guard<std::mutex> lock(mutex_);
        watching_ = true;
    }

    // Read under the lock, or once disconnected. From watch() on:
    std::vector<std::string> messages;
    std::vector<std::string> alerts;
    int fitsFrames = 0;
    // Always:
    std::set<std::string> defined;
    IPState exposureState = IPS_IDLE;
    bool uploadModeSet = false;

protected:
    void newProperty(INDI::Property property) override {
        std::lock_guard<std::mutex> lock(mutex_);
        defined.insert(property.getName());
        if (property.isNameMatch("CCD_EXPOSURE")) {
            exposureState = property.getState();
        }
        changed_.notify_all();
    }
    void removeProperty(INDI::Property property) override {
        std::lock_guard<std::mutex> lock(mutex_);
        defined.erase(property.getName());
    }
    void updateProperty(INDI::Property property) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (property.isNameMatch("CCD_EXPOSURE")) {
            exposureState = property.getState();
        }
        uploadModeSet = uploadModeSet || property.isNameMatch("UPLOAD_MODE");
        if (watching_ && property.getState() == IPS_ALERT) {
            alerts.emplace_back(property.getName());
        }
        if (watching_ && property.isNameMatch("CCD1") &&
            std::strcmp(property.getBLOB()->at(0)->getFormat(), ".fits") == 0) {
            ++fitsFrames;
        }
        changed_.notify_all();
    }
    void newMessage(INDI::BaseDevice device, int id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (watching_) {
            messages.push_back(device.messageQueue(std::size_t(id)));
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool watching_ = false;
};

int fail(const std::string& what) {
    std::printf("%s\n", what.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        return fail("usage: lumenvale-indi-two-clients PORT");
    }
    const int port = std::atoi(argv[1]);
    Client first(port);
    if (!first.connectServer()) {
        return fail("the first client could not connect");
    }
    first.setBLOBMode(B_ALSO, Device, "CCD1");
    if (!first.waitFor([&] {
            return first.defined.count("UPLOAD_MODE") != 0 &&
                   first.defined.count("SCOPE_INFO") != 0;
        })) {
        return fail("the driver's upload mode and telescope did not arrive");
    }
    // As Ekos does from its optical train; else INDI::CCD warns of it with every frame.
    INDI::PropertyNumber scope = first.getDevice(Device).getNumber("SCOPE_INFO");
    scope.findWidgetByName("FOCAL_LENGTH")->setValue(400);
    scope.findWidgetByName("APERTURE")->setValue(80);
    first.sendNewNumber(scope);
    // The driver's word on the new upload mode comes before the mode itself: the sequence's
    // own messages are counted from then on.
    first.sendNewSwitch(Device, "UPLOAD_MODE", "UPLOAD_CLIENT");
    if (!first.waitFor([&] { return first.uploadModeSet; })) {
        return fail("the upload mode was not set");
    }
    first.watch();
    for (int frame = 1; frame <= 3; ++frame) {
        first.sendNewNumber(Device, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1);
        if (frame == 2) {
            if (!first.waitFor([&] { return first.exposureState == IPS_BUSY; })) {
                return fail("the second exposure did not start");
            }
            Client second(port);
            if (!second.connectServer()) {
                return fail("the second client could not connect");
            }
            const std::size_t all = first.definedCount();
            if (!second.waitFor([&] { return second.defined.size() >= all; })) {
                std::string missing;
                for (const std::string& name : first.defined) {
                    missing += second.defined.count(name) != 0 ? "" : " " + name;
                }
                return fail("the second client did not get" + missing);
            }
            second.disconnectServer();
        }
        if (!first.waitFor([&] { return first.fitsFrames >= frame; })) {
            return fail("frame " + std::to_string(frame) + " did not arrive");
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    first.disconnectServer();
    std::string trouble;
    for (const std::string& text : first.messages) {
        trouble += "message: " + text + "\n";
    }
    for (const std::string& name : first.alerts) {
        trouble += "Alert: " + name + "\n";
    }
    if (first.fitsFrames != 3) {
        trouble += std::to_string(first.fitsFrames) + " frames instead of 3\n";
    }
    return trouble.empty() ? 0 : fail(trouble);
}
