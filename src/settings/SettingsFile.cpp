// Reading and writing "config.dat": three fields in sequential free-format text.
#include "settings/SettingsFile.h"

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SafeWrite.h"
#include "settings/FreeFormReader.h"

#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace lumenvale {

namespace {

constexpr char Quote = '"';

std::string describe(const fs::path& file, int line, const std::string& field,
                     const std::string& why) {
    return "Line " + std::to_string(line) + " of the settings file \"" + file.string() +
           "\" is wrong: the " + field + " " + why +
           ". The settings that could not be read take their defaults; the file is left as it is "
           "until the settings are saved.";
}

// The numbers as the print statement writes them: a blank instead of a plus sign, the digits,
// one blank after.
std::string numberText(std::int16_t value) {
    std::string text = value >= 0 ? " " : "";
    text += std::to_string(value);
    text += ' ';
    return text;
}

// A directory that would not read back whole as bare text is written between double quotes:
// one with a comma or a line end in it, which would end the field early, or one beginning with
// a blank, which would be skipped, or with a double quote, which would open a quoted field.
// Other directories stay bare, as they always were, a double quote inside them included. A
// quoted field ends at the next double quote, so a directory needing quotes must have none.
std::string directoryText(const fs::path& file, const std::string& dir) {
    const bool bare =
        dir.find_first_of(",\r\n") == std::string::npos &&
        (dir.empty() || (dir.front() != ' ' && dir.front() != '\t' && dir.front() != Quote));
    if (bare) {
        return dir;
    }
    if (dir.find(Quote) != std::string::npos) {
        throw FileError(file, "the save directory \"" + dir +
                                  "\" cannot be kept in it: a directory with a comma or a line "
                                  "end in it, or beginning with a blank or a double quote, "
                                  "must not hold a double quote");
    }
    return Quote + dir + Quote;
}

} // namespace

Settings DefaultSettings() {
    Settings settings;
    settings.DeinterlaceOrder = 1;
    settings.PlainWindows = 1;
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    settings.SaveDir = ec ? std::string(".") : here.string();
    return settings;
}

Settings LoadSettingsTellingProblems(const fs::path& file, Messages& messages) {
    SettingsLoad load = LoadSettings(file);
    if (!load.problem.empty()) {
        messages.MsgBox(QString::fromStdString(load.problem));
    }
    return load.settings;
}

SettingsLoad LoadSettings(const fs::path& file) {
    SettingsLoad load;
    load.settings = DefaultSettings();

    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        return load;
    }
    load.found = true;
    std::ifstream in;
    if (!fs::is_directory(status)) {
        in.open(file, std::ios::binary);
    }
    if (!in) {
        load.problem = "The settings file \"" + file.string() +
                       "\" cannot be read. The default settings are used; the file is left as "
                       "it is until the settings are saved.";
        return load;
    }

    // A wrong field leaves its variable at the default and does not stop the reading: the
    // fields after it may well be fine. The first wrong line is the one the message names.
    FreeFormReader reader(in);
    FieldProblem problem;
    auto note = [&](const char* field) {
        if (load.problem.empty()) {
            load.problem = describe(file, problem.line, field, problem.why);
        }
        reader.skipToNextField();
    };

    if (auto order = reader.readNumber(false, problem)) {
        load.settings.DeinterlaceOrder = *order;
    } else {
        note("de-interlace order");
    }
    if (auto dir = reader.readText(problem)) {
        load.settings.SaveDir = *dir;
    } else {
        note("save directory");
    }
    if (auto plain = reader.readNumber(true, problem)) {
        load.settings.PlainWindows = *plain;
    } else {
        note("plain windows setting");
    }
    return load;
}

void SaveSettings(const fs::path& file, const Settings& settings) {
    const std::string content = numberText(settings.DeinterlaceOrder) + "\r\n" +
                                directoryText(file, settings.SaveDir) + "\r\n" +
                                numberText(settings.PlainWindows) + "\r\n";
    WriteFileSafely(file, content);
}

} // namespace lumenvale
