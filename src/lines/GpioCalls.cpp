// libgpiod 1.6 behind the GPIO calls.
#include "lines/GpioCalls.h"

#include <gpiod.h>

#include <cerrno>

namespace lumenvale {

struct LibGpiodCalls::Chip {
    gpiod_chip* chip = nullptr;
    gpiod_line_bulk lines{};
    bool requested = false;
};

LibGpiodCalls::LibGpiodCalls() = default;

LibGpiodCalls::~LibGpiodCalls() {
    for (std::size_t i = 0; i < chips_.size(); ++i) {
        close(static_cast<int>(i));
    }
}

int LibGpiodCalls::open(const char* chipPath) {
    errno = 0;
    gpiod_chip* chip = gpiod_chip_open(chipPath);
    if (chip == nullptr) {
        return errno != 0 ? -errno : -EIO;
    }
    chips_.push_back(std::make_unique<Chip>(Chip{chip, {}, false}));
    return static_cast<int>(chips_.size() - 1);
}

std::string LibGpiodCalls::label(int chip) {
    const char* text = gpiod_chip_label(chips_.at(static_cast<std::size_t>(chip))->chip);
    return text != nullptr ? text : "";
}

int LibGpiodCalls::lineCount(int chip) {
    return static_cast<int>(gpiod_chip_num_lines(chips_.at(static_cast<std::size_t>(chip))->chip));
}

std::string LibGpiodCalls::holder(int chip, unsigned offset) {
    gpiod_line* line = gpiod_chip_get_line(chips_.at(static_cast<std::size_t>(chip))->chip, offset);
    if (line == nullptr || !gpiod_line_is_used(line)) {
        return {};
    }
    const char* consumer = gpiod_line_consumer(line);
    return consumer != nullptr ? consumer : "the kernel";
}

int LibGpiodCalls::requestOutputs(int chip, const std::vector<unsigned>& offsets,
                                  const std::vector<int>& values) {
    Chip& c = *chips_.at(static_cast<std::size_t>(chip));
    errno = 0;
    std::vector<unsigned> wanted = offsets;
    if (gpiod_chip_get_lines(c.chip, wanted.data(), static_cast<unsigned>(wanted.size()),
                             &c.lines) < 0) {
        return errno != 0 ? -errno : -EINVAL;
    }
    if (gpiod_line_request_bulk_output(&c.lines, "lumenvale", values.data()) < 0) {
        return errno != 0 ? -errno : -EIO;
    }
    c.requested = true;
    return 0;
}

int LibGpiodCalls::setValues(int chip, const std::vector<int>& values) {
    Chip& c = *chips_.at(static_cast<std::size_t>(chip));
    std::vector<int> levels = values;
    errno = 0;
    return gpiod_line_set_value_bulk(&c.lines, levels.data()) < 0 ? (errno != 0 ? -errno : -EIO)
                                                                  : 0;
}

int LibGpiodCalls::close(int chip) {
    std::unique_ptr<Chip>& c = chips_.at(static_cast<std::size_t>(chip));
    if (!c) {
        return 0;
    }
    if (c->requested) {
        gpiod_line_release_bulk(&c->lines);
    }
    gpiod_chip_close(c->chip);
    c.reset();
    return 0;
}

} // namespace lumenvale
