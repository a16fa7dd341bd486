// The camera as an INDI CCD: each exposure is one 2x1 Binned or Hi-res frame of the capture
// core, its lines, timing, frame choice and processing exactly as the desktop program has
// them, sent as an 8-bit FITS image (three planes, or one of luminance in Mono) whose EXPTIME
// is the exposure the lines made. Between exposures the webcam's live picture is the video.
#pragma once

#include "acquisition/CaptureDevices.h"
#include "acquisition/LibV4l2Calls.h"
#include "acquisition/StreamAcquisition.h"
#include "indi/DriverMessages.h"
#include "indi/DriverPanel.h"
#include "indi/ExposureLines.h"
#include "indi/ImageAdjustments.h"
#include "indi/LiveVideo.h"
#include "indi/ReadoutConfirmation.h"
#include "indi/WorkFolder.h"
#include "lines/FtdiCalls.h"
#include "lines/GpioCalls.h"
#include "lines/HidCalls.h"
#include "lines/LineMonitor.h"
#include "lines/LinePorts.h"
#include "lines/PpdevSyscalls.h"
#include "platform/Clock.h"
#include "platform/FileSystemObject.h"
#include "platform/MessagePump.h"
#include "platform/WindowTimers.h"
#include "settings/Settings.h"

#include <libindi/indiccd.h>

#include <QElapsedTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale {

struct CameraRig;

class LumenvaleCcd : public INDI::CCD {
public:
    static constexpr double MaxExposureSeconds = 3600;

    LumenvaleCcd();
    ~LumenvaleCcd() override;

    const char* getDefaultName() override { return "Lumenvale CCD"; }
    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                     int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                     int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

protected:
    bool Connect() override;
    bool Disconnect() override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    void addFITSKeywords(INDI::CCDChip* targetChip) override;
    bool saveConfigItems(FILE* fp) override;
    void UploadComplete(INDI::CCDChip* targetChip) override;
    bool SetCaptureFormat(uint8_t index) override;
    bool StartStreaming() override;
    bool StopStreaming() override;

private:
    void runExposure();
    // Whether the frame went to INDI::CCD's upload.
    bool finishExposure();
    bool sendFrame();
    void resumeVideo();
    void releaseCamera();
    void countdown(float remainingMs);
    void logMessage(const QString& text);
    void sendVideoFrame(const QImage& picture);
    bool hires() const { return ReadoutModeS[1].s == ISS_ON; }
    bool mono() const;
    StreamAcquisition::Camera chosenCamera() const;
    LineAdapter chosenAdapter() const;
    // The adapter, device and mapping of the Connection tab; nullopt with `why` when the
    // mapping does not read.
    std::optional<LinesChoice> chosenLines(std::string& why) const;
    // A client chose GPIO lines while the port names no gpiochip: the port becomes the one of
    // the Raspberry Pi header, else gpiochip0.
    void offerGpioChip();
    // At each opening of the webcam: its kept settings applied (at its first use, the automatic
    // modes turned off).
    void applyKeptSettings(WebcamStream& stream);
    // The Image Adjustments tab of the open webcam; at the first connection, the values of the
    // configuration loaded into the kept settings.
    void defineAdjustments();
    // A client's change, or a value from the configuration; false when the camera refused it.
    bool changeAdjustment(const char* name, const ImageAdjustments::Request& request);
    bool changeFrameRate(FrameInterval interval);
    // The values from the configuration set on the camera, once they are all loaded.
    void applyLoadedSettings();
    // Every property of the tab as the camera tells it now; `refused` turns Alert.
    void refreshAdjustments(const char* refused = nullptr);

    SystemClock clock_;
    KernelPpdevSyscalls ppdev_;
    HidapiCalls hid_;
    LibFtdiCalls ftdi_;
    LibGpiodCalls gpio_;
    LineCalls lineCalls_{ppdev_, hid_, ftdi_, gpio_};
    LibV4l2Calls v4l2_;
    LineMonitor lines_;
    WindowTimers timers_;
    QtMessagePump pump_;
    FileSystemObject files_;
    StreamAcquisition acquisition_;
    ReadoutConfirmation confirmation_;
    DriverMessages messages_;
    DriverPanel panel_;
    Settings settings_;
    ExposureLines exposureLines_;
    LiveVideo video_;
    // The working frame files of the capture core, while connected; nobody else's business.
    std::unique_ptr<WorkFolder> workDir_;
    std::unique_ptr<CameraRig> rig_;
    std::vector<CaptureDevice> webcams_;
    ImageAdjustments adjustments_;
    // What the user set for the webcam (and its first use turned off), kept in the driver's
    // configuration; for the camera of `keptFor_`, as CameraIdentity::key() has it.
    KeptCameraSettings kept_;
    QString keptFor_;
    bool adjustmentsDefined_ = false;
    bool adjustmentsLoaded_ = false;
    bool applyPending_ = false;

    // Every property has been defined once and the saved configuration loaded.
    bool propertiesDefined_ = false;
    bool videoRateOpened_ = false;
    bool running_ = false;
    bool exposureMono_ = false;
    bool resumeAfterUpload_ = false;
    bool aborted_ = false;
    bool releasePending_ = false;
    QString cameraLost_;
    QElapsedTimer sinceCountdown_;
    // The frame being sent, for its keywords.
    bool frameBinned_ = true;
    double measuredSeconds_ = 0;
    QString startUtc_;

    ISwitch ReadoutModeS[2]{};
    ISwitchVectorProperty ReadoutModeSP{};
    ISwitch AmpOffS[2]{};
    ISwitchVectorProperty AmpOffSP{};
    ISwitch DeinterlaceS[2]{};
    ISwitchVectorProperty DeinterlaceSP{};
    ISwitch DeinterlaceOrderS[2]{};
    ISwitchVectorProperty DeinterlaceOrderSP{};
    IText PortT[1]{};
    ITextVectorProperty PortTP{};
    std::vector<ISwitch> LinesAdapterS;
    ISwitchVectorProperty LinesAdapterSP{};
    IText LinesMappingT[1]{};
    ITextVectorProperty LinesMappingTP{};
    std::vector<ISwitch> WebcamS;
    ISwitchVectorProperty WebcamSP{};
    INumber SkipFramesN[1]{};
    INumberVectorProperty SkipFramesNP{};
};

} // namespace lumenvale
