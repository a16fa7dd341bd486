// The Settings window's directory list: the tree of one path, where a double-click (or Return)
// opens an entry and a single click only marks it.
#pragma once

#include <QListWidget>
#include <QString>

namespace lumenvale {

class DirectoryList : public QListWidget {
    Q_OBJECT

public:
    explicit DirectoryList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // Shows `directory` (made absolute and clean); emits pathChanged when the path differs.
    void setPath(const QString& directory);

signals:
    void pathChanged(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openEntry(QListWidgetItem* item);
    void fill();

    QString path_;
};

} // namespace lumenvale
