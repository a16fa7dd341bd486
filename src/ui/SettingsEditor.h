// What the Settings window does with the settings, without the window: its load steps, the
// order buttons, the plain-windows box, the directory list and its closing steps.
#pragma once

#include "settings/Settings.h"

#include <QString>

#include <cstdint>
#include <filesystem>

namespace lumenvale {

class Messages;

class SettingsEditor {
public:
    // The order each button stands for, both when the window opens and when it is clicked.
    static constexpr std::int16_t OrderOfOption1 = 1;
    static constexpr std::int16_t OrderOfOption2 = 2;

    // What the window shows once its load steps have run.
    struct Opening {
        QString listPath;       // the directory list's path
        int selectedOption = 1; // 1: Option1, 2: Option2
        bool plainTicked = false;
    };

    // `settingsFile` is "config.dat" in the current directory for the program; tests name their
    // own.
    SettingsEditor(Settings& settings, Messages& messages, std::filesystem::path settingsFile);

    // The load steps. The list starts at `SaveDir` in the list's own form, which is stored back.
    // An empty or vanished `SaveDir` is left alone: the list shows the nearest existing parent
    // (or the current directory), the user is told, and the closing steps store it.
    Opening open();

    // The button that shows a stored order: only 2 exchanges the hi-res fields, so every other
    // value is shown as Order 1. Selecting it from code stores nothing.
    static int optionForOrder(std::int16_t order);

    void optionClicked(int option);
    void plainWindowsClicked(bool ticked);
    void pathChanged(const QString& listPath);

    // The closing steps up to the backgrounds: `SaveDir` from the list, then "config.dat". A file
    // that cannot be written is reported and the settings stay in memory. Returns whether the
    // windows are now to drop their background pictures.
    bool close(const QString& listPath);
    // Whether the closing steps wrote "config.dat".
    bool saved() const { return saved_; }

    // The list's own form of a directory: absolute, without "." or ".." or doubled separators.
    static QString listForm(const std::filesystem::path& directory);

private:
    Settings& settings_;
    Messages& messages_;
    std::filesystem::path settingsFile_;
    bool saved_ = false;
};

} // namespace lumenvale
