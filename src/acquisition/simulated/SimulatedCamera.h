// The modified webcam, simulated: it listens to the camera lines through the line monitor and
// reads out what the real camera would. The light it collects is the time from the exposure
// state to the readout state; the amplifier glows unless the exposure state was "Amp off";
// a binned readout fills the even stored rows only; a hi-res exposure is read out as two
// fields, the even picture lines first and the odd ones, a little brighter, second. Its gain
// amplifies the light and its noise; its brightness moves the black level of its output.
#pragma once

#include "acquisition/simulated/SimulatedSky.h"
#include "frames/AcquiredFrame.h"
#include "lines/LineMonitor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumenvale {

// A mount that does not quite follow the sky: each long exposure sees the stars this many
// pixels further right and down than the one before (rounded to whole pixels).
struct SimulatedDrift {
    double xPerFrame = 0;
    double yPerFrame = 0;
};

class SimulatedCamera {
public:
    enum class Readout {
        Full,        // an ordinary webcam picture, every row
        Binned,      // stored row 2k holds picture rows 2k and 2k+1 together; odd rows dark
        FirstField,  // stored row 2k holds picture row 2k; odd rows dark
        SecondField, // stored row 2k holds picture row 2k+1, brighter; odd rows dark
    };

    struct Exposure {
        Readout readout = Readout::Full;
        std::int32_t exposureMs = 0;
        bool ampGlow = true;
    };

    // What the webcam gives without exposure control: the live picture and a Focus grab.
    static constexpr std::int32_t ShortExposureMs = 400;
    // How much more light the second field carries than the first.
    static constexpr float SecondFieldGain = 1.2F;
    static constexpr std::size_t NoiseValues = 4096;
    static constexpr std::size_t SigmaLevels = 512;

    // The gain setting: 0 leaves the light as collected, every third of the range doubles it
    // (100: eight times).
    static constexpr int GainMinimum = 0;
    static constexpr int GainMaximum = 100;
    static constexpr int GainDoublings = 3;
    // The brightness setting: grey levels added to every pixel of the output.
    static constexpr int BrightnessMinimum = -64;
    static constexpr int BrightnessMaximum = 64;

    using Drift = SimulatedDrift;

    explicit SimulatedCamera(LineMonitor& lines, Drift drift = {});
    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    // What a readout now would deliver, as the lines have set the camera up.
    Exposure pending() const;

    // The frame of the pending readout.
    AcquiredFrame readOut() { return render(pending()); }
    // The live picture: the same sky at the short exposure.
    AcquiredFrame preview();

    // Every call draws fresh noise; everything else is the same for the same exposure.
    AcquiredFrame render(const Exposure& exposure);

    int gain() const { return gain_; }
    // Clamped to GainMinimum..GainMaximum; the same for the live picture and long exposures.
    void setGain(int gain);
    int brightness() const { return brightness_; }
    // Clamped to BrightnessMinimum..BrightnessMaximum.
    void setBrightness(int brightness);

private:
    enum class Phase {
        Idle,
        PulseStarted,
        FrameStarted,
        Exposing,
        ReadBinned,
        ReadFirst,
        ReadSecond
    };

    void onWrite(const LineWrite& write);
    void makeSigma();

    LineMonitor& lines_;
    int subscription_ = 0;
    SimulatedSky sky_;
    Phase phase_ = Phase::Idle;
    std::int32_t exposureStart_ = 0;
    std::int32_t exposureMs_ = 0;
    bool ampOff_ = false;
    std::vector<float> noise_;
    std::vector<float> sigma_;
    std::uint32_t framesRendered_ = 0;
    Drift drift_;
    int gain_ = GainMinimum;
    float amplification_ = 1.0F; // what gain_ multiplies the light by
    int brightness_ = 0;
    int exposuresRead_ = 0; // long exposures read out so far; both fields of one count once
};

} // namespace lumenvale
