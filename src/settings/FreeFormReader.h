// Sequential free-format reading of the settings file: fields split at commas and line ends.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

namespace lumenvale {

// Why a field could not be read, and on which line of the file.
struct FieldProblem {
    int line = 0;
    std::string why; // "is missing", "holds no number", ... for a sentence about the field
};

// Reads fields one at a time from the stream, counting lines so that a wrong field can be named
// by its line. Reads only as far as the fields asked for; blanks before a field are skipped.
// CR LF ends a line, and so does a lone LF or CR, for files edited on other systems.
class FreeFormReader {
public:
    explicit FreeFormReader(std::istream& in) : in_(in) {}

    // A number ending at a blank, comma or line end, optionally signed, with an optional
    // fraction that is rounded half to even; it must fit 16 signed bits. Unless `last`, blanks
    // after it are skipped, and a comma or line end just after them; the next field starts
    // there, on the same line or not. With `last` nothing after the number is looked at.
    std::optional<std::int16_t> readNumber(bool last, FieldProblem& problem);

    // Text up to a comma or line end; or, when it starts with a double quote, everything up to
    // the next double quote (line ends and commas included), after which only blanks may come
    // before the comma or line end.
    std::optional<std::string> readText(FieldProblem& problem);

    // After a wrong field, carries on after the next comma or line end if that field was left
    // open, so that the fields after it can still be read.
    void skipToNextField();

private:
    bool atDelimiter();
    void skipBlanks();
    bool missing(FieldProblem& problem);
    bool endField();

    std::istream& in_;
    int line_ = 1;
    bool atLineStart_ = true;
    bool open_ = false; // a wrong field ended before its comma or line end
};

} // namespace lumenvale
