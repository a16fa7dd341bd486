// The INDI CCD driver's properties, connection and exposures.
#include "indi/LumenvaleCcd.h"

#include "acquisition/CameraSettingsEditor.h"
#include "camera/LineStates.h"
#include "indi/CameraRig.h"
#include "indi/FitsPlanes.h"

#include <libindi/stream/streammanager.h>

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstring>
#include <filesystem>

namespace lumenvale {

namespace {

constexpr const char* ConnectionGroup = "Connection";
constexpr const char* SimulatedElement = "SIMULATED";
constexpr int FrameWidth = FitsPlanes::Width;
constexpr int FrameHeight = FitsPlanes::Height;
// The capture formats, in the order they are added.
constexpr int RgbFormat = 0;
constexpr int MonoFormat = 1;
// The most the stream manager's preview limit allows.
constexpr double MaxVideoFps = 120;
// The ICX098 sensor of the webcams that are modified this way.
constexpr float PixelMicrons = 5.6F;

const char* ImageType(INDI::CCDChip::CCD_FRAME type) {
    switch (type) {
    case INDI::CCDChip::BIAS_FRAME:
        return "Bias Frame";
    case INDI::CCDChip::DARK_FRAME:
        return "Dark Frame";
    case INDI::CCDChip::FLAT_FRAME:
        return "Flat Frame";
    case INDI::CCDChip::LIGHT_FRAME:
        break;
    }
    return "Light Frame";
}

bool IsOurs(const char* dev, const char* ours) {
    return dev != nullptr && std::strcmp(dev, ours) == 0;
}

} // namespace

LumenvaleCcd::LumenvaleCcd()
    : acquisition_(lines_, clock_, v4l2_), confirmation_(acquisition_),
      messages_([this](const QString& text) { logMessage(text); }),
      panel_([this](float remainingMs) { countdown(remainingMs); }), exposureLines_(lines_),
      video_(acquisition_, [this](const QImage& picture) { sendVideoFrame(picture); }) {
    setVersion(0, 1);
    acquisition_.setOnCameraLost([this](const SourceFailure& failure) {
        // The exposure cannot be read out any more: end it now rather than at its end.
        if (running_ && rig_) {
            cameraLost_ = failure.reason;
            rig_->commands.stop();
        }
    });
    acquisition_.webcam().setOnOpening([this](WebcamStream& stream) { applyKeptSettings(stream); });
}

LumenvaleCcd::~LumenvaleCcd() = default;

bool LumenvaleCcd::initProperties() {
    // Nothing here may reach a client: a client that is already connected (Ekos starting the
    // driver itself) is told of no property before its definition. The capabilities and the
    // frame size are sent once their properties are defined.
    INDI::CCD::initProperties();
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0, MaxExposureSeconds, 1, false);
    // The saved choice, read by INDI::CCD::initProperties(), takes precedence over the default.
    addCaptureFormat({"INDI_RGB", "RGB", 8, true});
    addCaptureFormat({"INDI_MONO", "Mono", 8, false});

    IUFillSwitch(&ReadoutModeS[0], "BINNED", "2x1 Binned", ISS_ON);
    IUFillSwitch(&ReadoutModeS[1], "HIRES", "Hi-res", ISS_OFF);
    IUFillSwitchVector(&ReadoutModeSP, ReadoutModeS, 2, getDeviceName(), "READOUT_MODE",
                       "Readout mode", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    IUFillSwitch(&AmpOffS[0], "ENABLED", "On", ISS_OFF);
    IUFillSwitch(&AmpOffS[1], "DISABLED", "Off", ISS_ON);
    IUFillSwitchVector(&AmpOffSP, AmpOffS, 2, getDeviceName(), "AMP_OFF", "Amp off",
                       MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    IUFillSwitch(&DeinterlaceS[0], "ENABLED", "On", ISS_OFF);
    IUFillSwitch(&DeinterlaceS[1], "DISABLED", "Off", ISS_ON);
    IUFillSwitchVector(&DeinterlaceSP, DeinterlaceS, 2, getDeviceName(), "DEINTERLACE",
                       "De-interlace", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
    IUFillSwitch(&DeinterlaceOrderS[0], "ORDER_1", "1", ISS_ON);
    IUFillSwitch(&DeinterlaceOrderS[1], "ORDER_2", "2", ISS_OFF);
    IUFillSwitchVector(&DeinterlaceOrderSP, DeinterlaceOrderS, 2, getDeviceName(),
                       "DEINTERLACE_ORDER", "De-interlace order", MAIN_CONTROL_TAB, IP_RW,
                       ISR_1OFMANY, 0, IPS_IDLE);

    IUFillText(&PortT[0], "PORT", "Port", "/dev/parport0");
    IUFillTextVector(&PortTP, PortT, 1, getDeviceName(), "DEVICE_PORT", "Camera port",
                     ConnectionGroup, IP_RW, 0, IPS_IDLE);
    // The adapter that carries the camera lines; the port above is its device.
    LinesAdapterS.resize(std::size(LineAdapters));
    for (std::size_t i = 0; i < LinesAdapterS.size(); ++i) {
        const std::string element =
            QString::fromLatin1(LineAdapterKey(LineAdapters[i])).toUpper().toStdString();
        IUFillSwitch(&LinesAdapterS[i], element.c_str(), LineAdapterTitle(LineAdapters[i]),
                     i == 0 ? ISS_ON : ISS_OFF);
    }
    IUFillSwitchVector(&LinesAdapterSP, LinesAdapterS.data(), int(LinesAdapterS.size()),
                       getDeviceName(), "LINES_ADAPTER", "Camera lines", ConnectionGroup, IP_RW,
                       ISR_1OFMANY, 0, IPS_IDLE);
    // Empty: the adapter's usual wiring.
    IUFillText(&LinesMappingT[0], "MAPPING", "Outputs (e.g. RTS=!D0 DTR=!D2)", "");
    IUFillTextVector(&LinesMappingTP, LinesMappingT, 1, getDeviceName(), "LINES_MAPPING",
                     "Line mapping", ConnectionGroup, IP_RW, 0, IPS_IDLE);

    webcams_ = FindCaptureDevices(v4l2_, "/dev");
    WebcamS.resize(webcams_.size() + 1);
    for (std::size_t i = 0; i < webcams_.size(); ++i) {
        const std::string element = "VIDEO_" + std::to_string(i);
        const QString label = QStringLiteral("%1 (%2)").arg(
            webcams_[i].name, QString::fromStdString(webcams_[i].path));
        IUFillSwitch(&WebcamS[i], element.c_str(), label.toUtf8().constData(),
                     i == 0 ? ISS_ON : ISS_OFF);
    }
    IUFillSwitch(&WebcamS.back(), SimulatedElement, "Simulated camera",
                 webcams_.empty() ? ISS_ON : ISS_OFF);
    IUFillSwitchVector(&WebcamSP, WebcamS.data(), int(WebcamS.size()), getDeviceName(), "WEBCAM",
                       "Webcam", ConnectionGroup, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);

    IUFillNumber(&SkipFramesN[0], "FRAMES", "Frames", "%.0f", 0, 30, 1, 0);
    IUFillNumberVector(&SkipFramesNP, SkipFramesN, 1, getDeviceName(), "SKIP_FRAMES",
                       "Frames to skip", OPTIONS_TAB, IP_RW, 0, IPS_IDLE);

    setDefaultPollingPeriod(1000);
    return true;
}

void LumenvaleCcd::ISGetProperties(const char* dev) {
    if (propertiesDefined_) {
        // Another client asks: each property is sent as it stands, once, and nothing is
        // loaded again. INDI::CCD's own would define ACTIVE_DEVICES a second time and load it
        // from the configuration again, so it is passed over on purpose.
        if (dev == nullptr || IsOurs(dev, getDeviceName())) {
            INDI::DefaultDevice::ISGetProperties(dev); // NOLINT(bugprone-parent-virtual-call)
        }
        return;
    }
    // The first request comes from indiserver as it starts the driver: the configuration saved
    // for what may be set while disconnected is loaded now, and only now.
    INDI::CCD::ISGetProperties(dev);
    SetCCDCapability(CCD_CAN_ABORT | CCD_HAS_STREAMING);
    // The webcam sets the exposure of its own video frames.
    Streamer->setStreamingExposureEnabled(false);
    defineProperty(&LinesAdapterSP);
    defineProperty(&PortTP);
    defineProperty(&LinesMappingTP);
    defineProperty(&WebcamSP);
    defineProperty(&ReadoutModeSP);
    defineProperty(&AmpOffSP);
    defineProperty(&DeinterlaceSP);
    defineProperty(&DeinterlaceOrderSP);
    defineProperty(&SkipFramesNP);
    for (const char* name :
         {"LINES_ADAPTER", "DEVICE_PORT", "LINES_MAPPING", "WEBCAM", "READOUT_MODE", "AMP_OFF",
          "DEINTERLACE", "DEINTERLACE_ORDER", "SKIP_FRAMES"}) {
        loadConfig(true, name);
    }
    propertiesDefined_ = true;
}

bool LumenvaleCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        SetCCDParams(FrameWidth, FrameHeight, 8, PixelMicrons, PixelMicrons);
        PrimaryCCD.setNAxis(mono() ? 2 : 3);
        PrimaryCCD.setFrameBufferSize(FrameWidth * FrameHeight * 3);
        Streamer->setSize(FrameWidth, FrameHeight);
        if (!videoRateOpened_) {
            // libindi caps the video at 10 frames a second until a client asks for more: the
            // webcam's own rate is the default here, up to the property's 120. A rate a client
            // asks for later stands until the driver ends.
            videoRateOpened_ = true;
            double fps[] = {MaxVideoFps};
            char name[] = "LIMITS_PREVIEW_FPS";
            char* names[] = {name};
            Streamer->ISNewNumber(getDeviceName(), "LIMITS", fps, names, 1);
        }
        defineAdjustments();
    } else if (adjustmentsDefined_) {
        // Kept, for the configuration to be saved with them.
        adjustments_.remove(*this);
        adjustmentsDefined_ = false;
    }
    return true;
}

void LumenvaleCcd::applyKeptSettings(WebcamStream& stream) {
    if (stream.identity().key() != keptFor_) {
        // Another camera starts from its own first use.
        kept_ = {};
        keptFor_ = stream.identity().key();
    }
    V4l2ControlSet camera = stream.controls();
    const AppliedSettings applied = ApplyKeptSettings(camera, kept_);
    if (!applied.turnedOff.empty()) {
        const QString names =
            QStringList(applied.turnedOff.begin(), applied.turnedOff.end()).join(", ");
        LOGF_INFO("Turned off at this camera's first use, as they would fight a long exposure: "
                  "%s. Any of them may be turned on again on the %s tab.",
                  names.toUtf8().constData(), ImageAdjustments::Tab);
    }
    for (const QString& refused : applied.refused) {
        LOGF_WARN("%s refused %s; it keeps its own value.", stream.describe().toUtf8().constData(),
                  refused.toUtf8().constData());
    }
    // Before the configuration is loaded, it still holds what the user set last time.
    if (applied.keptChanged && adjustmentsLoaded_) {
        saveConfig(true);
    }
}

void LumenvaleCcd::defineAdjustments() {
    WebcamStream& stream = acquisition_.webcam();
    if (!stream.isOpen()) {
        return; // the simulated camera has no controls of its own
    }
    V4l2ControlSet camera = stream.controls();
    adjustments_.build(getDeviceName(), camera.controls(), camera.frameIntervals(),
                       camera.frameInterval());
    adjustments_.define(*this);
    adjustmentsDefined_ = true;
    if (!adjustmentsLoaded_) {
        // Each value read from the configuration is kept, and set with the others once all are
        // in (a value may need the mode another sets).
        for (const std::string& name : adjustments_.names()) {
            loadConfig(true, name.c_str());
        }
        adjustmentsLoaded_ = true;
    }
}

bool LumenvaleCcd::changeAdjustment(const char* name, const ImageAdjustments::Request& request) {
    if (isConfigLoading()) {
        if (request.interval) {
            kept_.interval = request.interval;
        } else {
            kept_.values[request.control] = request.value;
        }
        if (!applyPending_) {
            applyPending_ = true;
            QTimer::singleShot(0, [this] { applyLoadedSettings(); });
        }
        return true;
    }
    WebcamStream& stream = acquisition_.webcam();
    if (!stream.isOpen()) {
        return false;
    }
    bool taken = true;
    if (request.interval) {
        taken = changeFrameRate(*request.interval);
    } else {
        V4l2ControlSet camera = stream.controls();
        CameraSettingsEditor editor(camera, kept_, nullptr);
        const CameraControl* control = editor.control(request.control);
        const QString what = control != nullptr ? control->name : QString::fromLatin1(name);
        if (const std::optional<QString> refused = editor.set(request.control, request.value)) {
            LOGF_WARN("%s refused %s %lld: %s", stream.describe().toUtf8().constData(),
                      what.toUtf8().constData(), static_cast<long long>(request.value),
                      refused->toUtf8().constData());
            taken = false;
        }
    }
    refreshAdjustments(taken ? nullptr : name);
    if (taken && (request.interval || kept_.values.contains(request.control))) {
        saveConfig(true, name);
    }
    return taken;
}

bool LumenvaleCcd::changeFrameRate(FrameInterval interval) {
    if (running_) {
        LOG_WARN("The frame rate is changed between exposures.");
        return false;
    }
    // The camera takes a new rate only while it does not stream: the opening sets it, with
    // the other kept values.
    kept_.interval = interval;
    if (const std::optional<SourceFailure> failed = acquisition_.webcam().reopen()) {
        LOGF_ERROR("%s", failed->reason.toUtf8().constData());
        return false;
    }
    return kept_.interval == interval; // else refused, and told at the opening
}

void LumenvaleCcd::applyLoadedSettings() {
    applyPending_ = false;
    WebcamStream& stream = acquisition_.webcam();
    if (!stream.isOpen()) {
        return;
    }
    if (kept_.interval && stream.controls().frameInterval() != kept_.interval && !running_) {
        if (const std::optional<SourceFailure> failed = stream.reopen()) {
            LOGF_ERROR("%s", failed->reason.toUtf8().constData());
        }
    } else {
        applyKeptSettings(stream);
    }
    refreshAdjustments();
}

void LumenvaleCcd::refreshAdjustments(const char* refused) {
    WebcamStream& stream = acquisition_.webcam();
    if (!adjustmentsDefined_ || !stream.isOpen()) {
        return;
    }
    V4l2ControlSet camera = stream.controls();
    adjustments_.update(camera.controls(), camera.frameInterval(), refused);
    adjustments_.send();
}

bool LumenvaleCcd::mono() const {
    return CaptureFormatSP.findOnSwitchIndex() == MonoFormat;
}

bool LumenvaleCcd::SetCaptureFormat(uint8_t index) {
    // Taken up by the next exposure and the next video frame.
    return index == RgbFormat || index == MonoFormat;
}

StreamAcquisition::Camera LumenvaleCcd::chosenCamera() const {
    StreamAcquisition::Camera camera;
    camera.skipFrames = int(SkipFramesN[0].value);
    for (std::size_t i = 0; i < webcams_.size(); ++i) {
        if (WebcamS[i].s == ISS_ON) {
            camera.path = webcams_[i].path;
            camera.name = webcams_[i].name;
        }
    }
    return camera;
}

LineAdapter LumenvaleCcd::chosenAdapter() const {
    const int on = IUFindOnSwitchIndex(&LinesAdapterSP);
    return LineAdapters[on < 0 ? 0 : on];
}

std::optional<LinesChoice> LumenvaleCcd::chosenLines(std::string& why) const {
    LinesChoice choice;
    choice.adapter = chosenAdapter();
    choice.device = PortT[0].text;
    const std::string mapping = LinesMappingT[0].text ? LinesMappingT[0].text : "";
    if (mapping.empty()) {
        choice.mapping = DefaultLineMapping(choice.adapter);
        return choice;
    }
    const std::optional<LineMapping> parsed = ParseLineMapping(mapping);
    if (!parsed) {
        why = "The line mapping \"" + mapping +
              "\" does not read as outputs and data lines "
              "(e.g. RTS=!D0 DTR=!D2 TXD=-).";
        return std::nullopt;
    }
    choice.mapping = *parsed;
    return choice;
}

bool LumenvaleCcd::Connect() {
    auto workDir = std::make_unique<WorkFolder>("indi_lumenvale_ccd");
    if (!workDir->isValid()) {
        LOGF_ERROR("No working directory for the frame files: %s", workDir->error().c_str());
        return false;
    }
    const DriverServices services{clock_, lines_,    timers_, confirmation_,
                                  pump_,  messages_, files_,  acquisition_};
    std::string why;
    const std::optional<LinesChoice> choice = chosenLines(why);
    if (!choice) {
        LOGF_ERROR("%s", why.c_str());
        return false;
    }
    auto rig =
        std::make_unique<CameraRig>(services, MakeLinePort(*choice, lines_, clock_, lineCalls_),
                                    settings_, panel_, panel_, workDir->path());
    // The words of the desktop program's "not initialised" message go to the log.
    messages_.clear();
    rig->lines.openPortAccess();
    if (!rig->port->lastError().empty()) {
        rig->lines.closePortAccess();
        return false;
    }
    acquisition_.setCamera(chosenCamera());
    if (const std::optional<SourceFailure> failed = acquisition_.openCamera()) {
        LOGF_ERROR("%s", failed->reason.toUtf8().constData());
        rig->lines.closePortAccess();
        return false;
    }
    rig_ = std::move(rig);
    workDir_ = std::move(workDir);
    LOGF_INFO("Camera lines on %s (%s, %s) open; frames from %s.", PortT[0].text,
              LineAdapterTitle(choice->adapter),
              DescribeLineMapping(choice->adapter, choice->mapping).c_str(),
              chosenCamera().path.empty() ? "the simulated camera" : chosenCamera().path.c_str());
    return true;
}

bool LumenvaleCcd::Disconnect() {
    if (Streamer->isStreaming()) {
        Streamer->setStream(false);
    }
    if (running_) {
        // The command ends within its settle wait or readout; the camera is let go after it.
        aborted_ = true;
        releasePending_ = true;
        rig_->commands.endSoon();
        return true;
    }
    releaseCamera();
    return true;
}

void LumenvaleCcd::releaseCamera() {
    releasePending_ = false;
    video_.stop();
    if (rig_) {
        rig_->lines.closePortAccess();
        rig_.reset();
    }
    acquisition_.closeSource();
    workDir_.reset();
}

bool LumenvaleCcd::StartExposure(float duration) {
    if (running_ || !rig_) {
        return false;
    }
    running_ = true;
    aborted_ = false;
    exposureMono_ = mono();
    cameraLost_.clear();
    if (video_.running() && !video_.paused()) {
        // Video frames already handed to the stream manager go out within milliseconds, long
        // before the exposure's frame takes the same BLOB property.
        video_.pause();
        LOG_INFO("Live video paused for the exposure.");
    }
    settings_.DeinterlaceOrder = DeinterlaceOrderS[1].s == ISS_ON ? 2 : 1;
    panel_.prepare({duration, AmpOffS[0].s == ISS_ON, DeinterlaceS[0].s == ISS_ON});
    acquisition_.setCamera(chosenCamera());
    PrimaryCCD.setExposureDuration(duration);
    sinceCountdown_.invalidate();
    // The run blocks while it pumps events, so it must not start inside the dispatch of this
    // request: libindidriver's stdin reader is not reentrant.
    QTimer::singleShot(0, [this] { runExposure(); });
    return true;
}

void LumenvaleCcd::runExposure() {
    exposureLines_.reset();
    messages_.clear();
    if (hires()) {
        rig_->commands.hires();
    } else {
        rig_->commands.binned();
    }
    running_ = false;
    const bool sent = finishExposure();
    if (releasePending_) {
        releaseCamera();
    } else if (sent) {
        // INDI::CCD writes and sends the frame from a thread of its own, on the BLOB property
        // the video uses too: the video waits until the frame is out.
        resumeAfterUpload_ = true;
    } else {
        resumeVideo();
    }
}

void LumenvaleCcd::UploadComplete(INDI::CCDChip*) {
    // On INDI::CCD's upload thread: the rest is the event loop's.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this] {
            if (resumeAfterUpload_) {
                resumeAfterUpload_ = false;
                resumeVideo();
            }
        },
        Qt::QueuedConnection);
}

void LumenvaleCcd::resumeVideo() {
    // A frame asked for meanwhile keeps the video paused until it is out in turn.
    if (video_.paused() && !running_) {
        video_.resume();
        LOG_INFO("Live video resumed.");
    }
}

bool LumenvaleCcd::finishExposure() {
    if (aborted_) {
        LOG_INFO("Exposure aborted: the frame was read out and discarded.");
        return false;
    }
    if (panel_.picture().isNull()) {
        QString reason = !cameraLost_.isEmpty() ? cameraLost_ : messages_.last();
        if (reason.isEmpty()) {
            reason = acquisition_.lastFailure().reason;
        }
        if (!cameraLost_.isEmpty()) {
            LOGF_ERROR("%s", cameraLost_.toUtf8().constData());
        }
        LOGF_ERROR("The exposure failed: %s", reason.toUtf8().constData());
        PrimaryCCD.setExposureFailed();
        return false;
    }
    return sendFrame();
}

bool LumenvaleCcd::sendFrame() {
    // The last frame's upload thread reads the buffer and the keywords until it is done.
    std::unique_lock<std::mutex> buffer(ccdBufferLock);
    frameBinned_ = !hires();
    measuredSeconds_ = exposureLines_.seconds().value_or(PrimaryCCD.getExposureDuration());
    startUtc_ = exposureLines_.startUtc().toString(Qt::ISODateWithMs);
    startUtc_.chop(startUtc_.endsWith(QLatin1Char('Z')) ? 1 : 0);
    PrimaryCCD.setNAxis(exposureMono_ ? 2 : 3);
    PrimaryCCD.setFrameBufferSize(FrameWidth * FrameHeight * (exposureMono_ ? 1 : 3));
    if (!FitsPlanes::fill(panel_.picture(), exposureMono_, PrimaryCCD.getFrameBuffer(),
                          std::size_t(PrimaryCCD.getFrameBufferSize()))) {
        LOG_ERROR("The processed frame is not 640 x 480: nothing was sent.");
        PrimaryCCD.setExposureFailed();
        return false;
    }
    buffer.unlock();
    ExposureComplete(&PrimaryCCD);
    return true;
}

bool LumenvaleCcd::StartStreaming() {
    if (!rig_) {
        return false;
    }
    video_.start(chosenCamera().path.empty());
    if (running_) {
        video_.pause();
        LOG_INFO("Live video starts after the running exposure.");
    }
    return true;
}

bool LumenvaleCcd::StopStreaming() {
    video_.stop();
    return true;
}

void LumenvaleCcd::sendVideoFrame(const QImage& picture) {
    const bool asMono = mono();
    const QByteArray frame = FitsPlanes::videoFrame(picture, asMono);
    if (frame.isEmpty()) {
        return;
    }
    Streamer->setPixelFormat(asMono ? INDI_MONO : INDI_RGB, 8);
    // The stream manager copies the frame and sends it from its own thread.
    Streamer->newFrame(reinterpret_cast<const uint8_t*>(frame.constData()), uint32_t(frame.size()));
}

bool LumenvaleCcd::AbortExposure() {
    if (running_ && rig_) {
        // As Stop does on the desktop: the wait ends at once and the frame is read out, so the
        // lines end at the readout state; the frame itself is dropped.
        // Stop alone leaves an exposure that has not started yet (Abort during the settle
        // wait) its full length, since the time is read once the exposure state is on the
        // lines: from now on that time is 0.
        aborted_ = true;
        panel_.cutShort();
        rig_->commands.stop();
    }
    return true;
}

void LumenvaleCcd::countdown(float remainingMs) {
    // The wait refreshes 25 times a second; the clients need a few updates a second at most.
    if (sinceCountdown_.isValid() && sinceCountdown_.elapsed() < 500) {
        return;
    }
    sinceCountdown_.start();
    PrimaryCCD.setExposureLeft(remainingMs > 0 ? remainingMs / 1000.0 : 0.0);
}

void LumenvaleCcd::logMessage(const QString& text) {
    QString line = text;
    line.replace(QLatin1Char('\n'), QStringLiteral(": "));
    LOGF_ERROR("%s", line.toUtf8().constData());
}

// On INDI::CCD's upload thread, holding the buffer's lock.
void LumenvaleCcd::addFITSKeywords(INDI::CCDChip* targetChip) {
    INDI::CCD::addFITSKeywords(targetChip);
    fitsfile* fits = *targetChip->fitsFilePointer();
    int status = 0;
    const bool binned = frameBinned_;
    fits_update_key_dbl(fits, "EXPTIME", measuredSeconds_, 6,
                        "Exposure from the exposure-state to the readout write (s)", &status);
    fits_update_key_str(fits, "DATE-OBS", startUtc_.toUtf8().constData(),
                        "UTC of the exposure-state write", &status);
    fits_update_key_str(fits, "IMAGETYP", ImageType(targetChip->getFrameType()), "Frame type",
                        &status);
    fits_update_key_str(fits, "READMODE", binned ? "2x1 Binned" : "Hi-res", "Readout mode",
                        &status);
    fits_update_key_lng(fits, "XBINNING", 1, "Binning factor in width", &status);
    fits_update_key_lng(fits, "YBINNING", binned ? 2 : 1, "Binning factor in height", &status);
    fits_update_key_str(fits, "ROWORDER", "TOP-DOWN", "First row is the top of the picture",
                        &status);
    if (status != 0) {
        char text[FLEN_STATUS]{};
        fits_get_errstatus(status, text);
        LOGF_ERROR("FITS keywords: %s", text);
    }
}

bool LumenvaleCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                               int n) {
    if (IsOurs(dev, getDeviceName())) {
        if (std::strcmp(name, "CCD_EXPOSURE") == 0 && n >= 1) {
            if (running_) {
                LOGF_ERROR("An exposure is running: the request for %g s was refused.", values[0]);
                PrimaryCCD.setExposureLeft(PrimaryCCD.getExposureLeft());
                return false;
            }
            if (!(values[0] >= 0 && values[0] <= MaxExposureSeconds)) {
                LOGF_ERROR("An exposure of %g s was refused: it must lie between 0 and %g s.",
                           values[0], MaxExposureSeconds);
                PrimaryCCD.setExposureFailed();
                return false;
            }
        }
        if (const auto request = adjustments_.numberRequest(name, values, n)) {
            return changeAdjustment(name, *request);
        }
        if (std::strcmp(name, SkipFramesNP.name) == 0) {
            IUUpdateNumber(&SkipFramesNP, values, names, n);
            SkipFramesNP.s = IPS_OK;
            IDSetNumber(&SkipFramesNP, nullptr);
            saveConfig(true, SkipFramesNP.name);
            return true;
        }
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool LumenvaleCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                               int n) {
    if (IsOurs(dev, getDeviceName())) {
        if (adjustments_.owns(name)) {
            const auto request = adjustments_.switchRequest(name, states, names, n);
            // A button let go asks nothing.
            return !request || changeAdjustment(name, *request);
        }
        for (ISwitchVectorProperty* property : {&ReadoutModeSP, &AmpOffSP, &DeinterlaceSP,
                                                &DeinterlaceOrderSP, &WebcamSP, &LinesAdapterSP}) {
            if (std::strcmp(name, property->name) != 0) {
                continue;
            }
            if ((property == &WebcamSP || property == &LinesAdapterSP) && isConnected()) {
                LOGF_ERROR("The %s is chosen while disconnected.",
                           property == &WebcamSP ? "webcam" : "camera-line adapter");
                property->s = IPS_ALERT;
                IDSetSwitch(property, nullptr);
                return false;
            }
            // Each takes effect at the next exposure's start, as on the Control window.
            IUUpdateSwitch(property, states, names, n);
            property->s = IPS_OK;
            IDSetSwitch(property, nullptr);
            saveConfig(true, property->name);
            if (property == &LinesAdapterSP) {
                offerGpioChip();
            }
            return true;
        }
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

void LumenvaleCcd::offerGpioChip() {
    // A loaded configuration brings its own port, read after the adapter.
    if (isConfigLoading() || chosenAdapter() != LineAdapter::Gpio ||
        std::filesystem::path(PortT[0].text).filename().string().starts_with("gpiochip")) {
        return;
    }
    IUSaveText(&PortT[0], DefaultGpioChip(gpio_).c_str());
    PortTP.s = IPS_OK;
    IDSetText(&PortTP, nullptr);
    saveConfig(true, PortTP.name);
}

bool LumenvaleCcd::ISNewText(const char* dev, const char* name, char* texts[], char* names[],
                             int n) {
    for (ITextVectorProperty* property : {&PortTP, &LinesMappingTP}) {
        if (!IsOurs(dev, getDeviceName()) || std::strcmp(name, property->name) != 0) {
            continue;
        }
        if (isConnected()) {
            LOGF_ERROR("The %s is chosen while disconnected.",
                       property == &PortTP ? "camera port" : "line mapping");
            property->s = IPS_ALERT;
            IDSetText(property, nullptr);
            return false;
        }
        if (property == &LinesMappingTP && n > 0 && texts[0] != nullptr && *texts[0] != '\0' &&
            !ParseLineMapping(texts[0])) {
            LOGF_ERROR("The line mapping \"%s\" does not read as outputs and data lines "
                       "(e.g. RTS=!D0 DTR=!D2 TXD=-).",
                       texts[0]);
            property->s = IPS_ALERT;
            IDSetText(property, nullptr);
            return false;
        }
        IUUpdateText(property, texts, names, n);
        property->s = IPS_OK;
        IDSetText(property, nullptr);
        saveConfig(true, property->name);
        return true;
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

bool LumenvaleCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigSwitch(fp, &LinesAdapterSP);
    IUSaveConfigText(fp, &PortTP);
    IUSaveConfigText(fp, &LinesMappingTP);
    IUSaveConfigSwitch(fp, &WebcamSP);
    IUSaveConfigSwitch(fp, &ReadoutModeSP);
    IUSaveConfigSwitch(fp, &AmpOffSP);
    IUSaveConfigSwitch(fp, &DeinterlaceSP);
    IUSaveConfigSwitch(fp, &DeinterlaceOrderSP);
    IUSaveConfigNumber(fp, &SkipFramesNP);
    adjustments_.save(fp, kept_);
    return true;
}

} // namespace lumenvale
