// Process-level state of the GUI side: the application, its translator, the configuration read
// at start and the idle timer that powers off or starts the screen saver.
#pragma once

#include <QString>
#include <cstdint>

class QGuiApplication;
class QTranslator;
class QTimer;

// Created by main; never destroyed (the process ends through endProcess).
extern QGuiApplication* po_g_application;
// The installed translator; replaced by installTranslator().
extern QTranslator* po_g_appTranslator;
// Idle times in minutes from the configuration; 0 is off.
extern int32_t autoOffTimeout;
extern int32_t screenSaverTimeout;
// The 60 s idle timer (no parent), created by main.
extern QTimer* autoOffTimer;

constexpr const char* kConfigFile = "/media/private/config.ini";
constexpr const char* kActivityMarkFile = "/var/tmp/auto_off";
constexpr int kAutoOffIntervalMs = 60000;
constexpr int kApplicationFontPointSize = 10;

// The top-level keys of the configuration file. A missing or unreadable file, a missing key or
// a value that is not a whole number of minutes >= 0 gives the default: empty language, off.
struct TRootConfig {
    QString language;
    int32_t autoOff = 0;
    int32_t screenSaver = 0;
};
TRootConfig readRootConfig();

// Removes and deletes the installed translator, then installs a new one loaded from
// applicationDirPath()/translations: tavlin_<Language>.qm, else tavlin_en.qm, else empty.
void installTranslator();
// The same from a given directory and language; returns true when a file was loaded.
bool installTranslatorFrom(const QString& directory, const QString& language);

// The application font family for a language code (point size kApplicationFontPointSize).
QString applicationFontFamily(const QString& language);

// Slot of autoOffTimer (GUI thread): posts the power-off and screen-saver requests once the
// activity mark is old enough.
void autoOffCallback();
// The same check for a given wall-clock time in milliseconds since the epoch.
void autoOffCheck(int64_t nowMs);
