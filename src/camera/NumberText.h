// Reading numbers typed into the Control window's boxes, and writing counts back into them.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace lumenvale {

// The value of the number at the start of `text`, 0 when there is none.
//
// Blanks, tabs and line feeds are ignored wherever they stand ("1 0" reads 10). What follows
// is accepted, and reading stops at the first character that cannot continue it:
//   an optional sign ("+" or "-"), digits, optionally a full stop and more digits.
// The full stop is the decimal separator whatever the locale; a comma ends the number. There
// is no exponent ("1e3" reads 1) and no hexadecimal form. A sign or a full stop without any
// digit is no number. A number too large for a double gives infinity with its sign, which
// every conversion below refuses.
double LeadingNumber(const QString& text);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double RoundHalfEven(double value);

// The count in `text` rounded into 16 bits; nothing when it lies outside -32768 to 32767.
std::optional<std::int16_t> TextToCount(const QString& text);

// The seconds in `text` as milliseconds (seconds x 1000, then rounded) in 32 bits; nothing
// when they lie outside -2147483648 to 2147483647.
std::optional<std::int32_t> SecondsTextToMs(const QString& text);

// " 5", " 0", "-1": one blank in front of a count of zero or more, the minus sign otherwise.
QString CountToText(std::int16_t count);

} // namespace lumenvale
