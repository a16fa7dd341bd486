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

void QtFileDialogs::configureForOpen(QFileDialog& dialog, const QString& filter) {
    configure(dialog, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
}

void QtFileDialogs::configureForSave(QFileDialog& dialog, const QString& filter) {
    configure(dialog, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
}

QString QtFileDialogs::getOpenFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    configureForOpen(dialog, filter);
    return run(dialog);
}

QString QtFileDialogs::getSaveFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    configureForSave(dialog, filter);
    return run(dialog);
}

} // namespace lumenvale
