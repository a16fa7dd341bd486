// GPIO lines through libgpiod.
#include "lines/GpioLines.h"

#include "lines/GpioCalls.h"

#include <cerrno>
#include <cstring>

namespace lumenvale {

namespace {

// A GPIO line's name in the mapping: its offset, in decimal.
bool Offset(const std::string& name, unsigned& offset) {
    if (name.empty() || name.size() > 4 || name.find_first_not_of("0123456789") != name.npos) {
        return false;
    }
    offset = static_cast<unsigned>(std::stoul(name));
    return true;
}

} // namespace

GpioLines::GpioLines(LineMonitor& lines, const Clock& clock, GpioCalls& calls, std::string chip,
                     const LineMapping& mapping)
    : AdapterPort(lines, clock, "the GPIO chip " + chip), calls_(calls), chip_(std::move(chip)) {
    for (const LineOutput& out : mapping.outputs) {
        if (out.dataLine >= 0) {
            used_.outputs.push_back(out);
        }
    }
}

GpioLines::~GpioLines() {
    closeIfOpen();
}

std::vector<int> GpioLines::levels(std::uint8_t state) const {
    std::vector<int> out;
    for (std::size_t i = 0; i < used_.outputs.size(); ++i) {
        out.push_back(used_.level(i, state) ? 1 : 0);
    }
    return out;
}

std::string GpioLines::openDevice() {
    std::vector<unsigned> offsets;
    for (const LineOutput& out : used_.outputs) {
        unsigned offset = 0;
        if (!Offset(out.name, offset)) {
            return "\"" + out.name + "\" is no GPIO line number: give each line by its offset on " +
                   chip_ + ".";
        }
        offsets.push_back(offset);
    }
    if (offsets.empty()) {
        return "No GPIO line of " + chip_ +
               " follows a data line: choose the lines the camera "
               "is wired to.";
    }
    const int chip = calls_.open(chip_.c_str());
    if (chip < 0) {
        return OpenFailureText(what(), -chip,
                               "join the gpio group (sudo usermod -aG gpio $USER), or add a udev "
                               "rule giving your group /dev/gpiochip*, and log in again.");
    }
    std::string refusal;
    const int count = calls_.lineCount(chip);
    for (const unsigned offset : offsets) {
        if (static_cast<int>(offset) >= count) {
            refusal = chip_ + " has no line " + std::to_string(offset) + " (it has " +
                      std::to_string(count) + " lines).";
            break;
        }
        if (const std::string holder = calls_.holder(chip, offset); !holder.empty()) {
            refusal = "GPIO line " + std::to_string(offset) + " of " + chip_ + " is in use by " +
                      holder + ".";
            break;
        }
    }
    if (refusal.empty()) {
        // Requested at the levels of the state the lines are to show, so they never pass
        // through another one.
        const int result = calls_.requestOutputs(chip, offsets, levels(state()));
        if (result == -EBUSY) {
            refusal = "The GPIO lines of " + chip_ + " are in use by another program.";
        } else if (result < 0) {
            refusal = "The GPIO lines of " + chip_ +
                      " cannot be requested: " + std::strerror(-result) + ".";
        }
    }
    if (!refusal.empty()) {
        calls_.close(chip);
        return refusal;
    }
    handle_ = chip;
    return {};
}

int GpioLines::applyState(std::uint8_t state, std::optional<std::uint8_t> shown) {
    if (shown && levels(*shown) == levels(state)) {
        return 0;
    }
    const int result = calls_.setValues(handle_, levels(state));
    return result < 0 ? result : 1;
}

bool GpioLines::closeDevice() {
    const int result = calls_.close(handle_);
    handle_ = -1;
    return result >= 0;
}

} // namespace lumenvale
