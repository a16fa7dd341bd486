// Reading and writing the acquisition library's INI file.
#include "acquisition/AcquisitionConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <iterator>

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
constexpr QLatin1String CamerasKey("cameras");
constexpr QLatin1String CameraKey("key");
constexpr QLatin1String PreparedKey("prepared");
constexpr QLatin1String TurnedOffKey("turnedOff");
constexpr QLatin1String ControlsKey("controls");
constexpr QLatin1String IntervalKey("interval");

QString pathText(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
}

// "0x00980913=5 0x009a0901=1": control ids and values.
QString formatValues(const std::map<std::uint32_t, std::int64_t>& values) {
    QStringList entries;
    for (const auto& [id, value] : values) {
        entries << QStringLiteral("0x%1=%2")
                       .arg(id, 8, 16, QLatin1Char('0'))
                       .arg(static_cast<long long>(value));
    }
    return entries.join(QLatin1Char(' '));
}

std::map<std::uint32_t, std::int64_t> parseValues(const QString& text) {
    std::map<std::uint32_t, std::int64_t> values;
    for (const QString& entry : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto parts = entry.split(QLatin1Char('='));
        bool idOk = false;
        bool valueOk = false;
        const std::uint32_t id = parts.value(0).toUInt(&idOk, 0);
        const std::int64_t value = parts.value(1).toLongLong(&valueOk);
        if (parts.size() == 2 && idOk && valueOk && id != 0) {
            values[id] = value;
        }
    }
    return values;
}

std::optional<FrameInterval> parseInterval(const QString& text) {
    const auto parts = text.split(QLatin1Char('/'));
    bool numeratorOk = false;
    bool denominatorOk = false;
    const FrameInterval interval{parts.value(0).toUInt(&numeratorOk),
                                 parts.value(1).toUInt(&denominatorOk)};
    if (parts.size() != 2 || !numeratorOk || !denominatorOk || interval.numerator == 0 ||
        interval.denominator == 0) {
        return std::nullopt;
    }
    return interval;
}

void loadCameras(QSettings& ini, std::map<QString, KeptCameraSettings>& cameras) {
    const int count = ini.beginReadArray(CamerasKey);
    for (int i = 0; i < count; ++i) {
        ini.setArrayIndex(i);
        const QString key = ini.value(CameraKey).toString();
        if (key.isEmpty()) {
            continue;
        }
        KeptCameraSettings& kept = cameras[key];
        kept.prepared = ini.value(PreparedKey, false).toBool();
        for (const QString& name : ini.value(TurnedOffKey).toStringList()) {
            kept.turnedOff.push_back(name);
        }
        kept.values = parseValues(ini.value(ControlsKey).toString());
        kept.interval = parseInterval(ini.value(IntervalKey).toString());
    }
    ini.endArray();
}

void saveCameras(QSettings& ini, const std::map<QString, KeptCameraSettings>& cameras) {
    ini.beginWriteArray(CamerasKey, int(cameras.size()));
    int i = 0;
    for (const auto& [key, kept] : cameras) {
        ini.setArrayIndex(i++);
        ini.setValue(CameraKey, key);
        ini.setValue(PreparedKey, kept.prepared);
        ini.setValue(TurnedOffKey, QStringList(kept.turnedOff.begin(), kept.turnedOff.end()));
        ini.setValue(ControlsKey, formatValues(kept.values));
        if (kept.interval) {
            ini.setValue(IntervalKey, QStringLiteral("%1/%2")
                                          .arg(kept.interval->numerator)
                                          .arg(kept.interval->denominator));
        }
    }
    ini.endArray();
}

} // namespace

AcquisitionConfig AcquisitionConfig::load(const std::filesystem::path& file) {
    AcquisitionConfig config;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return config;
    }
    QSettings ini(pathText(file), QSettings::IniFormat);
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
    loadCameras(ini, config.cameras);
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
    saveCameras(ini, cameras);
    ini.sync(); // QSettings replaces the file whole, through a temporary
    return ini.status() == QSettings::NoError;
}

KeptCameraSettings& AcquisitionConfig::keptFor(const CameraIdentity& camera) {
    const QString key = camera.key();
    if (const auto it = cameras.find(key); it != cameras.end()) {
        return it->second;
    }
    const QString sameModel = CameraIdentity{camera.driver, camera.card, {}}.key();
    const auto moved = [&sameModel](const auto& entry) {
        return entry.first.startsWith(sameModel);
    };
    const auto first = std::find_if(cameras.begin(), cameras.end(), moved);
    if (first != cameras.end() &&
        std::find_if(std::next(first), cameras.end(), moved) == cameras.end()) {
        // Moved to another port: its settings move with it.
        KeptCameraSettings kept = first->second;
        cameras.erase(first);
        return cameras[key] = std::move(kept);
    }
    return cameras[key];
}

std::filesystem::path AcquisitionConfig::defaultFile() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return std::filesystem::path(dir.toStdString()) / "acquisition.ini";
}

} // namespace lumenvale
