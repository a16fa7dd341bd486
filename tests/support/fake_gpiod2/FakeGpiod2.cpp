// libgpiod 2's C calls, as far as the 2.x GPIO calls use them, answered by a GpioCalls stand-in:
// failures leave NULL or -1 and the errno the stand-in gave, as the library does.
#include "support/fake_gpiod2/FakeGpiod2.h"

#include <gpiod.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

lumenvale::GpioCalls* Device = nullptr;

template <typename T> T* Fail(int error) {
    errno = error;
    return nullptr;
}

} // namespace

struct gpiod_chip {
    lumenvale::GpioCalls* device;
    int handle;
};

struct gpiod_chip_info {
    std::string label;
    std::size_t lines;
};

struct gpiod_line_info {
    std::string consumer; // empty: free
};

struct gpiod_line_settings {
    gpiod_line_direction direction = GPIOD_LINE_DIRECTION_AS_IS;
};

struct gpiod_line_config {
    std::vector<unsigned> offsets; // in the order first added, each once
    std::vector<gpiod_line_settings> settings;
    std::vector<gpiod_line_value> values; // for the first offsets
};

struct gpiod_request_config {
    std::string consumer;
};

struct gpiod_line_request {
    gpiod_chip* chip;
    std::size_t lines;
};

extern "C" {

gpiod_chip* gpiod_chip_open(const char* path) {
    const int handle = Device->open(path);
    return handle < 0 ? Fail<gpiod_chip>(-handle) : new gpiod_chip{Device, handle};
}

void gpiod_chip_close(gpiod_chip* chip) {
    if (chip != nullptr) {
        chip->device->close(chip->handle);
        delete chip;
    }
}

gpiod_chip_info* gpiod_chip_get_info(gpiod_chip* chip) {
    return new gpiod_chip_info{chip->device->label(chip->handle),
                               static_cast<std::size_t>(chip->device->lineCount(chip->handle))};
}

void gpiod_chip_info_free(gpiod_chip_info* info) {
    delete info;
}

const char* gpiod_chip_info_get_label(gpiod_chip_info* info) {
    return info->label.c_str();
}

size_t gpiod_chip_info_get_num_lines(gpiod_chip_info* info) {
    return info->lines;
}

gpiod_line_info* gpiod_chip_get_line_info(gpiod_chip* chip, unsigned int offset) {
    if (static_cast<int>(offset) >= chip->device->lineCount(chip->handle)) {
        return Fail<gpiod_line_info>(EINVAL); // as the kernel answers
    }
    return new gpiod_line_info{chip->device->holder(chip->handle, offset)};
}

void gpiod_line_info_free(gpiod_line_info* info) {
    delete info;
}

bool gpiod_line_info_is_used(gpiod_line_info* info) {
    return !info->consumer.empty();
}

const char* gpiod_line_info_get_consumer(gpiod_line_info* info) {
    return info->consumer.empty() ? nullptr : info->consumer.c_str();
}

gpiod_line_settings* gpiod_line_settings_new() {
    return new gpiod_line_settings;
}

void gpiod_line_settings_free(gpiod_line_settings* settings) {
    delete settings;
}

int gpiod_line_settings_set_direction(gpiod_line_settings* settings,
                                      gpiod_line_direction direction) {
    if (direction < GPIOD_LINE_DIRECTION_AS_IS || direction > GPIOD_LINE_DIRECTION_OUTPUT) {
        errno = EINVAL;
        return -1;
    }
    settings->direction = direction;
    return 0;
}

gpiod_line_config* gpiod_line_config_new() {
    return new gpiod_line_config;
}

void gpiod_line_config_free(gpiod_line_config* config) {
    delete config;
}

int gpiod_line_config_add_line_settings(gpiod_line_config* config, const unsigned int* offsets,
                                        size_t num_offsets, gpiod_line_settings* settings) {
    if (offsets == nullptr || num_offsets == 0) {
        errno = EINVAL;
        return -1;
    }
    // An offset added again keeps its place and takes the newer settings, as in the library.
    for (std::size_t i = 0; i < num_offsets; ++i) {
        std::size_t at = 0;
        while (at < config->offsets.size() && config->offsets[at] != offsets[i]) {
            ++at;
        }
        if (at == config->offsets.size()) {
            config->offsets.push_back(offsets[i]);
            config->settings.emplace_back();
        }
        config->settings[at] = *settings;
    }
    return 0;
}

int gpiod_line_config_set_output_values(gpiod_line_config* config, const gpiod_line_value* values,
                                        size_t num_values) {
    config->values.assign(values, values + num_values);
    return 0;
}

gpiod_request_config* gpiod_request_config_new() {
    return new gpiod_request_config;
}

void gpiod_request_config_free(gpiod_request_config* config) {
    delete config;
}

void gpiod_request_config_set_consumer(gpiod_request_config* config, const char* consumer) {
    config->consumer = consumer != nullptr ? consumer : "";
}

gpiod_line_request* gpiod_chip_request_lines(gpiod_chip* chip, gpiod_request_config* /*req_cfg*/,
                                             gpiod_line_config* line_cfg) {
    if (line_cfg->offsets.empty()) {
        return Fail<gpiod_line_request>(EINVAL);
    }
    std::vector<int> values;
    for (std::size_t i = 0; i < line_cfg->offsets.size(); ++i) {
        // The stand-in has outputs only: anything else is a request it cannot answer.
        if (line_cfg->settings[i].direction != GPIOD_LINE_DIRECTION_OUTPUT ||
            static_cast<int>(line_cfg->offsets[i]) >= chip->device->lineCount(chip->handle)) {
            return Fail<gpiod_line_request>(EINVAL);
        }
        values.push_back(i < line_cfg->values.size() ? line_cfg->values[i] : 0);
    }
    if (const int result = chip->device->requestOutputs(chip->handle, line_cfg->offsets, values);
        result < 0) {
        return Fail<gpiod_line_request>(-result);
    }
    return new gpiod_line_request{chip, line_cfg->offsets.size()};
}

void gpiod_line_request_release(gpiod_line_request* request) {
    delete request;
}

int gpiod_line_request_set_values(gpiod_line_request* request, const gpiod_line_value* values) {
    const std::vector<int> levels(values, values + request->lines);
    if (const int result = request->chip->device->setValues(request->chip->handle, levels);
        result < 0) {
        errno = -result;
        return -1;
    }
    return 0;
}

} // extern "C"

namespace lumenvale::test {

std::unique_ptr<GpioCalls> MakeLibgpiod2Calls(GpioCalls& device) {
    Device = &device;
    return std::make_unique<LibGpiodCalls>();
}

} // namespace lumenvale::test
