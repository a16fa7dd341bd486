// File dialogs answered from a script: each call takes the next name (empty = cancelled).
#pragma once

#include "ui/FileDialogs.h"

#include <QStringList>

namespace lumenvale::test {

class ScriptedFileDialogs : public FileDialogs {
public:
    QString getOpenFileName(QWidget* /*parent*/, const QString& filter) override {
        return answer(QStringLiteral("open"), filter);
    }
    QString getSaveFileName(QWidget* /*parent*/, const QString& filter) override {
        return answer(QStringLiteral("save"), filter);
    }

    QStringList answers; // the names to give, in order; none left means cancelled
    QStringList asked;   // "open <filter>" or "save <filter>" for every dialog shown

private:
    QString answer(const QString& mode, const QString& filter) {
        asked.append(mode + QLatin1Char(' ') + filter);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

} // namespace lumenvale::test
