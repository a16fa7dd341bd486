// Reading and writing the acquisition library's INI file.
#include "acquisition/AcquisitionConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace lumenvale {

namespace {

constexpr QLatin1String SourceKey("source/kind");
constexpr QLatin1String DeviceKey("source/device");
constexpr QLatin1String NameKey("source/name");
constexpr QLatin1String SkipKey("v4l2/skipFrames");
constexpr QLatin1String StretchKey("preview/stretch");
constexpr QLatin1String LinesAdapterKey("lines/adapter");
constexpr QLatin1String LinesDeviceKey("lines/device");
constexpr QLatin1String LinesMappingKey("lines/mapping");

QString pathText(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
}

} // namespace

AcquisitionConfig AcquisitionConfig::load(const std::filesystem::path& file) {
    AcquisitionConfig config;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return config;
    }
    const QSettings ini(pathText(file), QSettings::IniFormat);
    const QString kind = ini.value(SourceKey).toString();
    config.devicePath = ini.value(DeviceKey).toString().toStdString();
    config.deviceName = ini.value(NameKey).toString();
    if (kind == QLatin1String("simulated")) {
        config.source = Source::Simulated;
    } else if (kind == QLatin1String("v4l2") && !config.devicePath.empty()) {
        config.source = Source::V4l2;
    }
    bool ok = false;
    const int skip = ini.value(SkipKey).toInt(&ok);
    if (ok) {
        config.skipFrames = std::clamp(skip, 0, MaxSkipFrames);
    }
    config.stretch = ini.value(StretchKey, false).toBool();
    const auto adapter = LineAdapterFromKey(ini.value(LinesAdapterKey).toString().toStdString());
    if (adapter) {
        config.lines.adapter = *adapter;
        config.lines.device = ini.value(LinesDeviceKey).toString().toStdString();
        const auto mapping = ParseLineMapping(ini.value(LinesMappingKey).toString().toStdString());
        config.lines.mapping =
            mapping && !mapping->outputs.empty() ? *mapping : DefaultLineMapping(*adapter);
    }
    return config;
}

bool AcquisitionConfig::save(const std::filesystem::path& file) const {
    const QString path = pathText(file);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    switch (source) {
    case Source::Unset:
        break;
    case Source::Simulated:
        ini.setValue(SourceKey, QStringLiteral("simulated"));
        break;
    case Source::V4l2:
        ini.setValue(SourceKey, QStringLiteral("v4l2"));
        ini.setValue(DeviceKey, QString::fromStdString(devicePath));
        ini.setValue(NameKey, deviceName);
        break;
    }
    ini.setValue(SkipKey, skipFrames);
    ini.setValue(StretchKey, stretch);
    ini.setValue(LinesAdapterKey, QLatin1String(LineAdapterKey(lines.adapter)));
    ini.setValue(LinesDeviceKey, QString::fromStdString(lines.device));
    ini.setValue(LinesMappingKey, QString::fromStdString(FormatLineMapping(lines.mapping)));
    ini.sync(); // QSettings replaces the file whole, through a temporary
    return ini.status() == QSettings::NoError;
}

std::filesystem::path AcquisitionConfig::defaultFile() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return std::filesystem::path(dir.toStdString()) / "acquisition.ini";
}

} // namespace lumenvale
