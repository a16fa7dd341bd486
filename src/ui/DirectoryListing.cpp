// Building the entries of a directory list.
#include "ui/DirectoryListing.h"

#include <QDir>
#include <QStringList>

namespace lumenvale {

std::vector<DirectoryEntry> ListDirectory(const QString& path) {
    std::vector<DirectoryEntry> entries;
    const QString clean = QDir::cleanPath(path);
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);

    entries.push_back({QStringLiteral("/"), QStringLiteral("/"), 0});
    QString walked;
    for (const QString& part : parts) {
        walked += QLatin1Char('/') + part;
        entries.push_back({walked, part, static_cast<int>(entries.size())});
    }

    const int childDepth = static_cast<int>(entries.size());
    const QDir dir(clean);
    const QStringList children =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& child : children) {
        entries.push_back({dir.absoluteFilePath(child), child, childDepth});
    }
    return entries;
}

} // namespace lumenvale
