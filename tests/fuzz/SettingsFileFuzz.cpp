// Any bytes as "config.dat": reading them must neither crash nor hang, and whatever the reading
// keeps must save and read back as the same settings.
#include "settings/SettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One private folder per process, made on first use and removed when the process ends.
struct WorkFolder {
    WorkFolder() {
        std::string pattern = (fs::temp_directory_path() / "lumenvale-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~WorkFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    fs::path path;
};

const fs::path& workFolder() {
    static const WorkFolder folder;
    return folder.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path file = workFolder() / "config.dat";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const lumenvale::SettingsLoad load = lumenvale::LoadSettings(file);
    if (!load.found) {
        std::abort();
    }

    lumenvale::SaveSettings(file, load.settings);
    const lumenvale::SettingsLoad again = lumenvale::LoadSettings(file);
    if (!again.problem.empty() || !(again.settings == load.settings)) {
        std::abort();
    }
    return 0;
}
