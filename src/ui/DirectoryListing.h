// The entries a directory list shows for one path: the root, the parents, the path itself and
// its sub-directories, each with its depth in the tree.
#pragma once

#include <QString>

#include <vector>

namespace lumenvale {

struct DirectoryEntry {
    QString path;  // absolute
    QString name;  // as shown: "/" for the root, else the last component
    int depth = 0; // 0 for the root

    bool operator==(const DirectoryEntry&) const = default;
};

// `path` must be an absolute, clean directory path. Sub-directories come sorted by name without
// regard to case; hidden ones (starting with ".") are left out, as file managers do.
std::vector<DirectoryEntry> ListDirectory(const QString& path);

} // namespace lumenvale
