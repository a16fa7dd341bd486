// Numbers typed into the Control window's boxes, read the same way under every locale.
#include "camera/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace lumenvale {

namespace {

bool IsIgnored(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The rounded value when it lies within [low, high]; NaN and infinities never do.
template <typename Int> std::optional<Int> RoundedInto(double value) {
    const double rounded = RoundHalfEven(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        return std::nullopt;
    }
    return static_cast<Int>(rounded);
}

} // namespace

double LeadingNumber(const QString& text) {
    // Collected in the "C" form that from_chars reads: sign, digits, full stop, digits.
    std::string number;
    bool negative = false;
    bool seenSign = false;
    bool seenPoint = false;
    bool seenDigit = false;
    bool wholePartNonZero = false;
    for (const QChar c : text) {
        if (IsIgnored(c)) {
            continue;
        }
        if ((c == u'+' || c == u'-') && !seenSign && !seenPoint && !seenDigit) {
            seenSign = true;
            negative = c == u'-';
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            number.push_back('.');
        } else if (IsDigit(c)) {
            seenDigit = true;
            if (!seenPoint && c != u'0') {
                wholePartNonZero = true;
            }
            number.push_back(static_cast<char>(c.unicode()));
        } else {
            break;
        }
    }
    if (!seenDigit) {
        return 0.0;
    }
    double magnitude = 0.0;
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), magnitude);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too many digits for a double: huge when the whole part has a digit other than 0,
        // otherwise too small to tell from 0.
        magnitude = wholePartNonZero ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc()) {
        return 0.0;
    }
    return negative ? -magnitude : magnitude;
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1.0;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::optional<std::int16_t> TextToCount(const QString& text) {
    return RoundedInto<std::int16_t>(LeadingNumber(text));
}

std::optional<std::int32_t> SecondsTextToMs(const QString& text) {
    return RoundedInto<std::int32_t>(LeadingNumber(text) * 1000.0);
}

QString CountToText(std::int16_t count) {
    const QString digits = QString::number(count);
    return count >= 0 ? QStringLiteral(" ") + digits : digits;
}

} // namespace lumenvale
