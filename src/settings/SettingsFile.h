// Reading and writing "config.dat".
#pragma once

#include "settings/Settings.h"

#include <filesystem>
#include <string>

namespace lumenvale {

class Messages;

inline constexpr const char* SettingsFileName = "config.dat";

// Order 1, the current directory, pictured windows: what a first start uses.
Settings DefaultSettings();

struct SettingsLoad {
    Settings settings;   // the fields read; the defaults where a field could not be read
    bool found = false;  // whether the file existed
    std::string problem; // empty, or a sentence for the user naming the line that is wrong
};

// Reads the three fields with the free-format rules (commas or line ends between fields,
// quoted text). A missing file is not a problem; the file is never written here.
SettingsLoad LoadSettings(const std::filesystem::path& file);

// LoadSettings for a window being created: the problem, if any, is shown as a message and
// the settings that could be read are returned.
Settings LoadSettingsTellingProblems(const std::filesystem::path& file, Messages& messages);

// Writes exactly three CR LF lines, safely (temporary name, then rename). Throws FileError,
// also, before anything is written, for a save directory no form of which reads back whole.
void SaveSettings(const std::filesystem::path& file, const Settings& settings);

} // namespace lumenvale
