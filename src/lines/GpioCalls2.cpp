// libgpiod 2.x behind the GPIO calls, with the results and errno values of the 1.6 ones.
#include "lines/GpioCalls.h"

#include <gpiod.h>

#include <algorithm>
#include <cerrno>

namespace lumenvale {

namespace {

// Frees a libgpiod object with its own function when the owner goes.
template <auto Free> struct Freer {
    template <typename T> void operator()(T* object) const { Free(object); }
};

template <typename T, auto Free> using Owned = std::unique_ptr<T, Freer<Free>>;

// Minus the errno a failed libgpiod call left, or `fallback` when it left none.
int Failure(int fallback) {
    return errno != 0 ? -errno : -fallback;
}

std::vector<gpiod_line_value> Levels(const std::vector<int>& values) {
    std::vector<gpiod_line_value> levels;
    levels.reserve(values.size());
    for (const int value : values) {
        levels.push_back(value != 0 ? GPIOD_LINE_VALUE_ACTIVE : GPIOD_LINE_VALUE_INACTIVE);
    }
    return levels;
}

} // namespace

struct LibGpiodCalls::Chip {
    Owned<gpiod_chip, gpiod_chip_close> chip;
    std::string label;
    int lines = 0;
    // Released before the chip closes (members go in reverse); the lines keep their level.
    Owned<gpiod_line_request, gpiod_line_request_release> request;
};

LibGpiodCalls::LibGpiodCalls() = default;

LibGpiodCalls::~LibGpiodCalls() = default;

int LibGpiodCalls::open(const char* chipPath) {
    errno = 0;
    Owned<gpiod_chip, gpiod_chip_close> chip(gpiod_chip_open(chipPath));
    if (!chip) {
        return Failure(EIO);
    }
    // Read once, as 1.6 does when it opens the chip, so that a chip that does not answer is
    // refused here and the label and count cannot fail later.
    const Owned<gpiod_chip_info, gpiod_chip_info_free> info(gpiod_chip_get_info(chip.get()));
    if (!info) {
        return Failure(EIO);
    }
    const char* label = gpiod_chip_info_get_label(info.get());
    chips_.push_back(std::make_unique<Chip>(
        Chip{std::move(chip), label != nullptr ? label : "",
             static_cast<int>(gpiod_chip_info_get_num_lines(info.get())), nullptr}));
    return static_cast<int>(chips_.size() - 1);
}

std::string LibGpiodCalls::label(int chip) {
    return chips_.at(static_cast<std::size_t>(chip))->label;
}

int LibGpiodCalls::lineCount(int chip) {
    return chips_.at(static_cast<std::size_t>(chip))->lines;
}

std::string LibGpiodCalls::holder(int chip, unsigned offset) {
    const Owned<gpiod_line_info, gpiod_line_info_free> info(
        gpiod_chip_get_line_info(chips_.at(static_cast<std::size_t>(chip))->chip.get(), offset));
    if (!info || !gpiod_line_info_is_used(info.get())) {
        return {};
    }
    const char* consumer = gpiod_line_info_get_consumer(info.get());
    return consumer != nullptr ? consumer : "the kernel";
}

int LibGpiodCalls::requestOutputs(int chip, const std::vector<unsigned>& offsets,
                                  const std::vector<int>& values) {
    Chip& c = *chips_.at(static_cast<std::size_t>(chip));
    // 2.x merges a line named twice into one, which would shift every later value onto the
    // wrong line; the kernel refuses it to 1.6 as a line already taken.
    std::vector<unsigned> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        return -EBUSY;
    }
    const std::vector<gpiod_line_value> levels = Levels(values);
    errno = 0;
    const Owned<gpiod_line_settings, gpiod_line_settings_free> settings(gpiod_line_settings_new());
    const Owned<gpiod_line_config, gpiod_line_config_free> lines(gpiod_line_config_new());
    const Owned<gpiod_request_config, gpiod_request_config_free> request(
        gpiod_request_config_new());
    if (!settings || !lines || !request) {
        return Failure(ENOMEM);
    }
    if (gpiod_line_settings_set_direction(settings.get(), GPIOD_LINE_DIRECTION_OUTPUT) < 0 ||
        gpiod_line_config_add_line_settings(lines.get(), offsets.data(), offsets.size(),
                                            settings.get()) < 0 ||
        gpiod_line_config_set_output_values(lines.get(), levels.data(), levels.size()) < 0) {
        return Failure(EINVAL);
    }
    gpiod_request_config_set_consumer(request.get(), "lumenvale");
    c.request.reset(gpiod_chip_request_lines(c.chip.get(), request.get(), lines.get()));
    return c.request ? 0 : Failure(EIO);
}

int LibGpiodCalls::setValues(int chip, const std::vector<int>& values) {
    Chip& c = *chips_.at(static_cast<std::size_t>(chip));
    if (!c.request) {
        return -EINVAL;
    }
    const std::vector<gpiod_line_value> levels = Levels(values);
    errno = 0;
    return gpiod_line_request_set_values(c.request.get(), levels.data()) < 0 ? Failure(EIO) : 0;
}

int LibGpiodCalls::close(int chip) {
    chips_.at(static_cast<std::size_t>(chip)).reset();
    return 0;
}

} // namespace lumenvale
