// The simulated camera's line handling and readout.
#include "acquisition/simulated/SimulatedCamera.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumenvale {

namespace {

// The line states the camera reacts to, as the port carries them.
constexpr std::uint8_t LinesIdle = 0x00;
constexpr std::uint8_t LinesPulseStart = 0x27;
constexpr std::uint8_t LinesPulseEndOrReadout = 0x37; // after 0x27: pulse end; else readout
constexpr std::uint8_t LinesExposeAmpOn = 0x34;
constexpr std::uint8_t LinesExposeAmpOff = 0x30;
constexpr std::uint8_t LinesReadoutFirstField = 0x35;

// The sensor and its electronics.
constexpr float BlackLevel = 10.0F;
constexpr float ReadNoiseVariance = 1.6F * 1.6F;
constexpr float ShotNoisePerLevel = 0.15F; // variance added per grey level of light

// Normal deviates (a sum of twelve uniforms is close enough for picture noise), drawn once;
// frames pick from them with a fast generator.
std::vector<float> makeNoise() {
    std::vector<float> values(SimulatedCamera::NoiseValues);
    std::uint32_t s = 0x1234567U;
    for (auto& v : values) {
        float sum = 0;
        for (int i = 0; i < 12; ++i) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            sum += float(s >> 8) / float(1U << 24);
        }
        v = sum - 6.0F;
    }
    return values;
}

} // namespace

SimulatedCamera::SimulatedCamera(LineMonitor& lines, Drift drift)
    : lines_(lines), noise_(makeNoise()), sigma_(SigmaLevels), drift_(drift) {
    makeSigma();
    subscription_ = lines_.subscribe([this](const LineWrite& w) { onWrite(w); });
}

SimulatedCamera::~SimulatedCamera() {
    lines_.unsubscribe(subscription_);
}

// Read noise plus shot noise, by whole grey levels of amplified light; above the top level the
// pixel saturates whatever the noise. The amplifier multiplies the noise of what it is given
// with the light: `a` times the read noise, and amplified level L was L / a levels collected,
// whose shot noise variance it multiplies by a * a.
void SimulatedCamera::makeSigma() {
    const float a = amplification_;
    for (std::size_t level = 0; level < SigmaLevels; ++level) {
        sigma_[level] = std::sqrt(a * a * ReadNoiseVariance + a * float(level) * ShotNoisePerLevel);
    }
}

void SimulatedCamera::setGain(int gain) {
    gain_ = std::clamp(gain, GainMinimum, GainMaximum);
    amplification_ =
        std::exp2(float(GainDoublings * (gain_ - GainMinimum)) / (GainMaximum - GainMinimum));
    makeSigma();
}

void SimulatedCamera::setBrightness(int brightness) {
    brightness_ = std::clamp(brightness, BrightnessMinimum, BrightnessMaximum);
}

void SimulatedCamera::onWrite(const LineWrite& write) {
    switch (write.state) {
    case LinesIdle:
        phase_ = Phase::Idle;
        break;
    case LinesPulseStart:
        phase_ = Phase::PulseStarted;
        break;
    case LinesPulseEndOrReadout:
        if (phase_ == Phase::PulseStarted) {
            phase_ = Phase::FrameStarted;
        } else if (phase_ == Phase::Exposing) {
            exposureMs_ = std::max(0, TickDiff(write.tick, exposureStart_));
            phase_ = Phase::ReadBinned;
        } else if (phase_ == Phase::ReadFirst) {
            phase_ = Phase::ReadSecond; // the same charge, read out as the other field
        }
        break;
    case LinesExposeAmpOn:
    case LinesExposeAmpOff:
        // The exposure runs from the last exposure-state write: with the amplifier on, the
        // state is written twice and the second write starts it.
        if (phase_ == Phase::FrameStarted || phase_ == Phase::Exposing) {
            phase_ = Phase::Exposing;
            exposureStart_ = write.tick;
            ampOff_ = write.state == LinesExposeAmpOff;
        }
        break;
    case LinesReadoutFirstField:
        if (phase_ == Phase::Exposing) {
            exposureMs_ = std::max(0, TickDiff(write.tick, exposureStart_));
            phase_ = Phase::ReadFirst;
        }
        break;
    default:
        break; // 0x14 after the settle wait, and anything else, changes nothing we model
    }
}

SimulatedCamera::Exposure SimulatedCamera::pending() const {
    switch (phase_) {
    case Phase::ReadBinned:
        return {Readout::Binned, exposureMs_, !ampOff_};
    case Phase::ReadFirst:
        return {Readout::FirstField, exposureMs_, !ampOff_};
    case Phase::ReadSecond:
        return {Readout::SecondField, exposureMs_, !ampOff_};
    default:
        // No exposure under our control (Focus, or no frame started): the webcam's own.
        return {Readout::Full, ShortExposureMs, !(phase_ == Phase::Exposing && ampOff_)};
    }
}

AcquiredFrame SimulatedCamera::preview() {
    return render({Readout::Full, ShortExposureMs, true});
}

AcquiredFrame SimulatedCamera::render(const Exposure& exposure) {
    const float* noise = noise_.data();
    const float* sigmaOf = sigma_.data();
    std::uint32_t state = 0x9E3779B9U ^ (++framesRendered_ * 0x85EBCA6BU);
    const float seconds = float(std::max(0, exposure.exposureMs)) / 1000.0F;
    const float glow = exposure.ampGlow ? 1.0F : 0.0F;
    // The black level, moved by the brightness, is added behind the amplifier: the gain leaves
    // it as it is. (The 0.5 rounds the value to a whole grey level.)
    const float black = BlackLevel + 0.5F + float(brightness_);

    if (exposure.readout == Readout::Binned || exposure.readout == Readout::FirstField) {
        ++exposuresRead_;
    }
    const int drifted = exposure.readout == Readout::Full ? 0 : std::max(0, exposuresRead_ - 1);
    const int shiftX = int(std::lround(drift_.xPerFrame * drifted));
    const int shiftY = int(std::lround(drift_.yPerFrame * drifted));
    // The sky's row for a picture row and its value for a colour value, the sky moved by the
    // drift; beyond the sky's edge its last row or column repeats.
    const auto skyRow = [&](int storedRow) {
        return std::clamp(storedRow + shiftY, 0, AcquiredFrame::Height - 1);
    };
    const auto skyValue = [&](const float* values, int i) {
        const int column = std::clamp(i / 3 - shiftX, 0, AcquiredFrame::Width - 1);
        return values[3 * column + i % 3];
    };

    AcquiredFrame frame;
    std::vector<float> light(SimulatedSky::RowValues);
    for (int row = 0; row < AcquiredFrame::Height; ++row) {
        // Which picture rows this stored row is read from, and with what gain.
        int first = row;
        int second = -1;
        float fieldGain = 1.0F;
        const bool even = row % 2 == 0;
        switch (exposure.readout) {
        case Readout::Full:
            break;
        case Readout::Binned:
            first = even ? row : -1;
            second = even ? row + 1 : -1;
            break;
        case Readout::FirstField:
            first = even ? row : -1;
            break;
        case Readout::SecondField:
            first = even ? row + 1 : -1;
            fieldGain = SecondFieldGain;
            break;
        }
        const float scale = seconds * fieldGain * amplification_;
        if (first < 0) {
            std::fill(light.begin(), light.end(), 0.0F);
        } else {
            const float* sky = sky_.light(skyRow(first));
            const float* amp = sky_.glow(first);
            for (int i = 0; i < SimulatedSky::RowValues; ++i) {
                light[i] = (skyValue(sky, i) + glow * amp[i]) * scale;
            }
        }
        if (second >= 0) {
            const float* sky = sky_.light(skyRow(second));
            const float* amp = sky_.glow(second);
            for (int i = 0; i < SimulatedSky::RowValues; ++i) {
                light[i] += (skyValue(sky, i) + glow * amp[i]) * scale;
            }
        }
        std::uint8_t* out = frame.storedRow(row);
        for (int i = 0; i < SimulatedSky::RowValues; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const float signal = light[i];
            const int level = int(std::min(signal, float(SigmaLevels - 1)));
            // The top 12 bits of the generator pick one of the 4096 deviates.
            const float value = black + signal + sigmaOf[level] * noise[state >> 20];
            out[i] = value <= 0.0F ? 0 : value >= 255.0F ? 255 : std::uint8_t(value);
        }
    }
    return frame;
}

} // namespace lumenvale
