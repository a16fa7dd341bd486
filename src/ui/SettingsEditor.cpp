// The Settings window's handling of the settings.
#include "ui/SettingsEditor.h"

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <exception>
#include <utility>

namespace lumenvale {

namespace {

QString decodeName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string encodeName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

bool isDirectory(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Walks up from a directory that is gone to the first one that is still there.
QString nearestExistingDirectory(const QString& wanted) {
    if (wanted.isEmpty()) {
        return QDir::currentPath();
    }
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(wanted));
    while (!QFileInfo(path).isDir()) {
        const QString up = QFileInfo(path).path();
        if (up == path) {
            return QDir::currentPath();
        }
        path = up;
    }
    return path;
}

} // namespace

SettingsEditor::SettingsEditor(Settings& settings, Messages& messages,
                               std::filesystem::path settingsFile)
    : settings_(settings), messages_(messages), settingsFile_(std::move(settingsFile)) {}

SettingsEditor::Opening SettingsEditor::open() {
    Opening opening;
    const QString saveDir = decodeName(settings_.SaveDir);
    if (isDirectory(saveDir)) {
        opening.listPath = listForm(settings_.SaveDir);
        settings_.SaveDir = encodeName(opening.listPath);
    } else {
        // Frames must not go to a directory the user never chose, so SaveDir keeps its value
        // until the window closes and the user has seen where the list stands.
        opening.listPath = listForm(encodeName(nearestExistingDirectory(saveDir)));
        const QString then =
            QStringLiteral("The list shows \"%1\"; it becomes the save directory when this "
                           "window closes.")
                .arg(opening.listPath);
        if (saveDir.isEmpty()) {
            messages_.MsgBox(QStringLiteral("No save directory is set. ") + then);
        } else {
            messages_.MsgBox(
                QStringLiteral("The save directory \"%1\" does not exist. ").arg(saveDir) + then);
        }
    }
    opening.selectedOption = optionForOrder(settings_.DeinterlaceOrder);
    opening.plainTicked = settings_.PlainWindows == 2;
    return opening;
}

int SettingsEditor::optionForOrder(std::int16_t order) {
    return order == OrderOfOption2 ? 2 : 1;
}

void SettingsEditor::optionClicked(int option) {
    settings_.DeinterlaceOrder = option == 2 ? OrderOfOption2 : OrderOfOption1;
}

void SettingsEditor::plainWindowsClicked(bool ticked) {
    settings_.PlainWindows = ticked ? 2 : 1;
}

void SettingsEditor::pathChanged(const QString& listPath) {
    settings_.SaveDir = encodeName(listPath);
}

bool SettingsEditor::close(const QString& listPath) {
    settings_.SaveDir = encodeName(listPath);
    QString reason;
    try {
        SaveSettings(settingsFile_, settings_);
    } catch (const FileError& e) {
        reason = QString::fromStdString(e.reason());
    } catch (const std::exception& e) {
        reason = QString::fromStdString(e.what());
    }
    saved_ = reason.isEmpty();
    if (!saved_) {
        const QString file =
            QDir::current().absoluteFilePath(QFile::decodeName(settingsFile_.string().c_str()));
        messages_.MsgBox(QStringLiteral("The settings could not be written to \"%1\": %2.\nThey "
                                        "stay in use until the program ends; the file keeps its "
                                        "old content.")
                             .arg(file, reason));
    }
    return settings_.PlainWindows == 2;
}

QString SettingsEditor::listForm(const std::filesystem::path& directory) {
    return QDir::cleanPath(
        QDir::current().absoluteFilePath(QFile::decodeName(directory.string().c_str())));
}

} // namespace lumenvale
