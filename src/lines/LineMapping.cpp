// Adapter names, default mappings and their text form.
#include "lines/LineMapping.h"

#include <sstream>
#include <utility>

namespace lumenvale {

const char* LineAdapterKey(LineAdapter adapter) {
    switch (adapter) {
    case LineAdapter::Parallel:
        return "parallel";
    case LineAdapter::Serial:
        return "serial";
    case LineAdapter::Lxusb:
        return "lxusb";
    case LineAdapter::Ftdi:
        return "ftdi";
    case LineAdapter::Gpio:
        return "gpio";
    }
    return "parallel";
}

std::optional<LineAdapter> LineAdapterFromKey(const std::string& key) {
    for (const LineAdapter adapter : LineAdapters) {
        if (key == LineAdapterKey(adapter)) {
            return adapter;
        }
    }
    return std::nullopt;
}

const char* LineAdapterTitle(LineAdapter adapter) {
    switch (adapter) {
    case LineAdapter::Parallel:
        return "Parallel port";
    case LineAdapter::Serial:
        return "Serial port (RTS, DTR, TXD break)";
    case LineAdapter::Lxusb:
        return "Shoestring LXUSB";
    case LineAdapter::Ftdi:
        return "FTDI chip in bit-bang mode";
    case LineAdapter::Gpio:
        return "GPIO lines";
    }
    return "";
}

bool LineMapping::level(std::size_t index, std::uint8_t state) const {
    const LineOutput& out = outputs.at(index);
    const bool high = out.dataLine >= 0 && ((state >> out.dataLine) & 1U) != 0;
    return high != out.inverted;
}

LineMapping DefaultLineMapping(LineAdapter adapter) {
    switch (adapter) {
    case LineAdapter::Parallel:
        return {};
    case LineAdapter::Serial:
        return {{{"RTS", 0, true}, {"DTR", 2, true}, {"TXD", -1, false}}};
    case LineAdapter::Lxusb:
        return {{{"Frame1", 0, false},
                 {"Frame2", 1, false},
                 {"Shutter", 4, false},
                 {"Amplifier", 2, false}}};
    case LineAdapter::Ftdi: {
        LineMapping mapping;
        for (int pin = 0; pin < 8; ++pin) {
            // Built by appending: GCC 12's -O3 misreads "D" + std::to_string(pin) as an
            // overlapping copy (-Wrestrict).
            std::string name(1, 'D');
            name += char('0' + pin);
            mapping.outputs.push_back({std::move(name), pin, false});
        }
        return mapping;
    }
    case LineAdapter::Gpio:
        return {{{"17", 0, false},
                 {"27", 1, false},
                 {"22", 2, false},
                 {"23", 4, false},
                 {"24", 5, false}}};
    }
    return {};
}

std::string FormatLineMapping(const LineMapping& mapping) {
    std::string text;
    for (const LineOutput& out : mapping.outputs) {
        if (!text.empty()) {
            text += ' ';
        }
        text += out.name + '=';
        if (out.dataLine < 0) {
            text += '-';
        } else {
            text += (out.inverted ? "!D" : "D") + std::to_string(out.dataLine);
        }
    }
    return text;
}

std::string DescribeLineMapping(LineAdapter adapter, const LineMapping& mapping) {
    if (mapping.outputs.empty()) {
        return "data lines D0 to D7 as written";
    }
    return (mapping == DefaultLineMapping(adapter) ? "the default mapping " : "the mapping ") +
           FormatLineMapping(mapping);
}

std::optional<LineMapping> ParseLineMapping(const std::string& text) {
    LineMapping mapping;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq == 0 || eq == std::string::npos) {
            return std::nullopt;
        }
        LineOutput out{word.substr(0, eq), -1, false};
        std::string line = word.substr(eq + 1);
        if (line != "-") {
            if (!line.empty() && line[0] == '!') {
                out.inverted = true;
                line.erase(0, 1);
            }
            if (line.size() != 2 || line[0] != 'D' || line[1] < '0' || line[1] > '7') {
                return std::nullopt;
            }
            out.dataLine = line[1] - '0';
        }
        mapping.outputs.push_back(out);
    }
    return mapping;
}

} // namespace lumenvale
