#include "core/root.h"

#include "board/board.h"
#include "core/gest_db.h"
#include "core/requests.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTranslator>

#include <sys/stat.h>
#include <time.h>

QGuiApplication* po_g_application = nullptr;
QTranslator* po_g_appTranslator = nullptr;
int32_t autoOffTimeout = 0;
int32_t screenSaverTimeout = 0;
QTimer* autoOffTimer = nullptr;

namespace {
// Minutes as a whole number >= 0; anything else is off rather than a power-off at the next tick.
int32_t minutesValue(const QSettings& settings, const char* key)
{
    bool ok = false;
    int value = settings.value(key).toString().trimmed().toInt(&ok);
    return ok && value > 0 ? value : 0;
}

int64_t milliseconds(const timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void post(uint16_t kind, int32_t code)
{
    pipe_dial request{};
    request.kind = kind;
    request.code = code;
    request.senderId = kSenderTimer;
    o_g_consMessageBox.send(&request);
}
} // namespace

TRootConfig readRootConfig()
{
    TRootConfig config;
    QSettings settings(QString::fromStdString(boardPath(kConfigFile)), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return config;
    config.language = settings.value("Language").toString().trimmed();
    config.autoOff = minutesValue(settings, "AutoOff");
    config.screenSaver = minutesValue(settings, "ScreenSaver");
    return config;
}

bool installTranslatorFrom(const QString& directory, const QString& language)
{
    if (po_g_appTranslator) {
        QCoreApplication::removeTranslator(po_g_appTranslator);
        delete po_g_appTranslator;
    }
    po_g_appTranslator = new QTranslator();
    bool loaded = po_g_appTranslator->load("tavlin_" + language + ".qm", directory)
                  || po_g_appTranslator->load("tavlin_en.qm", directory);
    // Installed even when empty: the texts then stay as their keys.
    QCoreApplication::installTranslator(po_g_appTranslator);
    return loaded;
}

void installTranslator()
{
    // Beside the program, not on the board's file system.
    installTranslatorFrom(QCoreApplication::applicationDirPath() + "/translations", readRootConfig().language);
}

QString applicationFontFamily(const QString& language)
{
    if (language == "zh" || language == "ar")
        return QStringLiteral("Arial Unicode MS");
    return QStringLiteral("Noto Sans");
}

void autoOffCheck(int64_t nowMs)
{
    struct stat st;
    if (stat(boardPath(kActivityMarkFile).c_str(), &st) != 0)
        return;
    // A mark in the future (clock set back) counts as fresh activity, not as a negative idle time.
    int64_t idle = nowMs - milliseconds(st.st_mtim);
    if (idle < 0)
        idle = 0;
    if (autoOffTimeout > 0 && idle >= static_cast<int64_t>(autoOffTimeout) * 60000)
        post(REQ_SET_PARAM, param::powerOffRequest);
    if (screenSaverTimeout > 0 && idle >= static_cast<int64_t>(screenSaverTimeout) * 60000)
        post(REQ_SCREEN_SAVER, 1);  // saver on
}

void autoOffCallback()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    autoOffCheck(milliseconds(now));
}
