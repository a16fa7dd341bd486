// The directory list of the Settings window.
#include "ui/DirectoryList.h"

#include "ui/DirectoryListing.h"

#include <QDir>
#include <QKeyEvent>

namespace lumenvale {

namespace {
constexpr int PathRole = Qt::UserRole;
constexpr int IndentPerLevel = 1; // blanks per level of the tree
} // namespace

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The list is only three entries high: a horizontal scroll bar would take one of them. A
    // name cut off at the right shows whole as the entry's tool tip.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryList::openEntry);
    setPath(QDir::currentPath());
}

void DirectoryList::setPath(const QString& directory) {
    const QString clean = QDir::cleanPath(QDir::current().absoluteFilePath(directory));
    const bool changed = clean != path_;
    path_ = clean;
    fill();
    if (changed) {
        emit pathChanged(path_);
    }
}

void DirectoryList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        openEntry(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirectoryList::openEntry(QListWidgetItem* item) {
    if (item) {
        setPath(item->data(PathRole).toString());
    }
}

void DirectoryList::fill() {
    clear();
    QListWidgetItem* current = nullptr;
    for (const DirectoryEntry& entry : ListDirectory(path_)) {
        auto* item = new QListWidgetItem(
            QString(qsizetype(entry.depth) * IndentPerLevel, QLatin1Char(' ')) + entry.name, this);
        item->setData(PathRole, entry.path);
        item->setToolTip(entry.path);
        if (entry.path == path_) {
            current = item;
        }
    }
    if (current) {
        setCurrentItem(current);
        scrollToItem(current);
    }
}

} // namespace lumenvale
