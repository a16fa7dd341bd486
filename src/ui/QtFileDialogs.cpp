// The viewer's file dialog on Qt.
#include "ui/QtFileDialogs.h"

#include <QFileDialog>

namespace lumenvale {

namespace {

// The dialogs take any name typed: the file is not required to exist, no extension is added,
// and an existing file is replaced without asking. A failed load or save is reported by the
// command itself, naming the file. Qt's dialogs have no read-only check box to hide.
void configure(QFileDialog& dialog, const QString& filter) {
    dialog.setNameFilter(filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
}

QString run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

void QtFileDialogs::ConfigureForOpen(QFileDialog& dialog, const QString& filter) {
    configure(dialog, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
}

void QtFileDialogs::ConfigureForSave(QFileDialog& dialog, const QString& filter) {
    configure(dialog, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
}

QString QtFileDialogs::GetOpenFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    ConfigureForOpen(dialog, filter);
    return run(dialog);
}

QString QtFileDialogs::GetSaveFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    ConfigureForSave(dialog, filter);
    return run(dialog);
}

} // namespace lumenvale
