// Sequential free-format reading of the settings file.
#include "settings/FreeFormReader.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace lumenvale {

namespace {

constexpr int EndOfFile = std::char_traits<char>::eof();
constexpr char Quote = '"';

bool isBlank(int c) {
    return c == ' ' || c == '\t';
}

bool isLineEnd(int c) {
    return c == '\r' || c == '\n';
}

// Sign, digits, optionally a full stop and more digits; a fraction is rounded to the nearest
// whole number, halves to the even one, as the Control window rounds its boxes.
std::optional<std::int16_t> toInt16(const std::string& token) {
    const bool signed_ = token[0] == '-' || token[0] == '+';
    const char* begin = token.data() + (signed_ ? 1 : 0);
    const char* end = token.data() + token.size();
    if (begin == end || *begin == '-' || *begin == '+') {
        return std::nullopt;
    }
    double magnitude = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, magnitude, std::chars_format::fixed);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    // The default rounding mode is to nearest, ties to even.
    const double value = std::nearbyint(token[0] == '-' ? -magnitude : magnitude);
    if (!(value >= std::numeric_limits<std::int16_t>::min() &&
          value <= std::numeric_limits<std::int16_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

// Field text for a message: control bytes shown as '?', and no longer than a screen line.
std::string printable(const std::string& token) {
    constexpr std::size_t Shown = 40;
    std::string shown;
    for (char c : token.substr(0, Shown)) {
        shown.push_back(static_cast<unsigned char>(c) < 32 ? '?' : c);
    }
    return token.size() > Shown ? shown + "..." : shown;
}

} // namespace

std::optional<std::int16_t> FreeFormReader::readNumber(bool last, FieldProblem& problem) {
    if (missing(problem)) {
        return std::nullopt;
    }
    problem.line = line_;
    std::string token;
    while (!atDelimiter() && !isBlank(in_.peek())) {
        token.push_back(static_cast<char>(in_.get()));
    }
    // The field is over at the blank, comma or line end; the next one starts at the next
    // character that is not a blank, after a comma or line end if one comes first.
    if (!last) {
        skipBlanks();
        if (atDelimiter()) {
            endField();
        }
    }
    if (token.empty()) {
        problem.why = "holds no number";
        return std::nullopt;
    }
    const std::optional<std::int16_t> value = toInt16(token);
    if (!value) {
        problem.why = "holds \"" + printable(token) + "\", not a number from -32768 to 32767";
    }
    return value;
}

std::optional<std::string> FreeFormReader::readText(FieldProblem& problem) {
    if (missing(problem)) {
        return std::nullopt;
    }
    problem.line = line_;
    std::string text;
    if (in_.peek() != Quote) {
        while (!atDelimiter()) {
            text.push_back(static_cast<char>(in_.get()));
        }
        endField();
        return text;
    }
    in_.get();
    for (;;) {
        const int c = in_.get();
        if (c == EndOfFile) {
            problem.why = "has no closing quote";
            return std::nullopt;
        }
        if (c == Quote) {
            break;
        }
        if (c == '\n' || (c == '\r' && in_.peek() != '\n')) {
            ++line_;
        }
        text.push_back(static_cast<char>(c));
    }
    if (!endField()) {
        problem.why = "has more after the closing quote";
        open_ = true;
        return std::nullopt;
    }
    return text;
}

void FreeFormReader::skipToNextField() {
    if (!std::exchange(open_, false)) {
        return;
    }
    while (!atDelimiter()) {
        in_.get();
    }
    endField();
}

bool FreeFormReader::atDelimiter() {
    const int c = in_.peek();
    return c == EndOfFile || c == ',' || isLineEnd(c);
}

void FreeFormReader::skipBlanks() {
    while (isBlank(in_.peek())) {
        in_.get();
    }
}

// A field the file ends before belongs on the next line, unless a line has just ended.
bool FreeFormReader::missing(FieldProblem& problem) {
    skipBlanks();
    if (in_.peek() != EndOfFile) {
        return false;
    }
    problem.line = atLineStart_ ? line_ : line_ + 1;
    problem.why = "is missing";
    return true;
}

// Skips trailing blanks and takes the comma or line end that closes a field; false when
// something else follows.
bool FreeFormReader::endField() {
    skipBlanks();
    const int c = in_.peek();
    atLineStart_ = false;
    if (c == EndOfFile) {
        return true;
    }
    if (c == ',') {
        in_.get();
        return true;
    }
    if (isLineEnd(c)) {
        in_.get();
        if (c == '\r' && in_.peek() == '\n') {
            in_.get();
        }
        ++line_;
        atLineStart_ = true;
        return true;
    }
    return false;
}

} // namespace lumenvale
