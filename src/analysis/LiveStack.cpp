// Calibration, registration, resampling and the rejecting running mean.
#include "analysis/LiveStack.h"

#include "analysis/FloatPicture.h"
#include "analysis/MasterDark.h"
#include "analysis/MasterFlat.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace lumenvale {

namespace {

// The noise of one colour value, from the differences of horizontal neighbours of the same
// colour: the sky's slopes and the glow hardly enter, and a binned frame's doubled lines
// (which repeat each row) do not hide it.
float ValueNoise(const FloatPicture& picture) {
    std::vector<float> differences;
    differences.reserve(picture.values.size() / 31 + 1);
    for (int y = 0; y < picture.height; y += 3) {
        const float* row = picture.row(y);
        for (int i = 1; i + 3 < picture.width * 3; i += 31) {
            differences.push_back(std::abs(row[i + 3] - row[i]));
        }
    }
    if (differences.empty()) {
        return 1;
    }
    return std::max(0.5F, float(MiddleValue(differences) * 1.4826 / std::sqrt(2.0)));
}

} // namespace

LiveStack::Outcome LiveStack::add(FloatPicture frame, const MasterDark* dark,
                                  double exposureSeconds, const MasterFlat* flat) {
    if (!mean_.empty() && (frame.width != mean_.width || frame.height != mean_.height)) {
        return reject(QStringLiteral("its size differs from the stack's"));
    }
    if (dark != nullptr) {
        dark->apply(frame);
    }
    if (flat != nullptr) {
        flat->apply(frame);
    }
    const std::vector<StarPoint> stars = StarFinder::find(frame, MaxStars);
    const float noise = ValueNoise(frame);
    const double background = QualityGate::Background(frame);
    Outcome outcome;
    if (referenceStars_.empty()) {
        if (int(stars.size()) < MinMatchedStars) {
            return reject(QStringLiteral("%1 stars found, %2 needed to be the reference")
                              .arg(stars.size())
                              .arg(MinMatchedStars));
        }
        referenceStars_ = stars;
        mean_ = FloatPicture(frame.width, frame.height, std::numeric_limits<float>::quiet_NaN());
        spread_.assign(mean_.values.size(), 0.0F);
        count_.assign(mean_.values.size(), 0);
        outcome.matchedStars = int(stars.size());
        outcome.quality.stars = int(stars.size());
        outcome.quality.background = background;
        accumulate(frame, noise);
    } else {
        const std::optional<Registration> found = StarRegistration::align(referenceStars_, stars);
        if (!found || found->matchedStars < MinMatchedStars) {
            return reject(QStringLiteral("%1 stars matched, %2 needed")
                              .arg(found ? found->matchedStars : 0)
                              .arg(MinMatchedStars));
        }
        const double scale = found->transform.scale();
        if (std::abs(scale - 1) > MaxScaleError) {
            return reject(QStringLiteral("its scale is off by %1 %")
                              .arg(std::abs(scale - 1) * 100, 0, 'f', 1));
        }
        outcome.transform = found->transform;
        outcome.matchedStars = found->matchedStars;
        outcome.quality = gate_.measure(referenceStars_, stars, found->pairs, background, noise);
        if (QString why = gate_.refusal(outcome.quality); !why.isEmpty()) {
            return reject(std::move(why), outcome);
        }
        const Similarity& t = found->transform;
        const cv::Matx23d toReference(t.a, -t.b, t.tx, t.b, t.a, t.ty);
        warped_ = FloatPicture(frame.width, frame.height);
        const cv::Mat source(frame.height, frame.width, CV_32FC3, frame.values.data());
        cv::Mat target(warped_.height, warped_.width, CV_32FC3, warped_.values.data());
        // Outside the frame there is no light to add: NaN, skipped below.
        cv::warpAffine(source, target, toReference, target.size(), cv::INTER_LINEAR,
                       cv::BORDER_CONSTANT,
                       cv::Scalar::all(std::numeric_limits<double>::quiet_NaN()));
        accumulate(warped_, noise);
    }
    gate_.stacked(background);
    outcome.stacked = true;
    ++stacked_;
    exposureSeconds_ += exposureSeconds;
    return outcome;
}

void LiveStack::accumulate(const FloatPicture& frame, float noiseFloor) {
    const float limit2 = float(RejectSigma * RejectSigma);
    const float floor2 = noiseFloor * noiseFloor;
    const bool rejecting = stacked_ + 1 >= RejectFromFrame;
    float* mean = mean_.values.data();
    float* spread = spread_.data();
    std::uint16_t* count = count_.data();
    const float* in = frame.values.data();
    for (std::size_t i = 0; i < mean_.values.size(); ++i) {
        const float x = in[i];
        if (std::isnan(x)) {
            continue;
        }
        const std::uint16_t n = count[i];
        if (n == 0) {
            mean[i] = x;
            count[i] = 1;
            continue;
        }
        const float delta = x - mean[i];
        if (rejecting && n >= RejectFromFrame - 1) {
            // The spread of the pixel's own values, but never below the frame's noise: a few
            // frames that happen to agree must not make an ordinary value an outlier.
            const float variance = std::max(spread[i] / float(n - 1), floor2);
            if (delta * delta > limit2 * variance) {
                continue;
            }
        }
        if (n == std::numeric_limits<std::uint16_t>::max()) {
            continue;
        }
        count[i] = std::uint16_t(n + 1);
        mean[i] += delta / float(n + 1);
        spread[i] += delta * (x - mean[i]);
    }
}

LiveStack::Outcome LiveStack::reject(QString why, Outcome outcome) {
    ++rejected_;
    outcome.stacked = false;
    outcome.problem = std::move(why);
    return outcome;
}

void LiveStack::reset() {
    const StackLimits limits = gate_.limits();
    *this = LiveStack();
    gate_.setLimits(limits);
}

} // namespace lumenvale
