// chargeview: the screen shown while the instrument is off and its battery charges. Holds
// /var/tmp/powerOffAllowed while it runs and ends with status 1 on the power key.
#include "board/board.h"
#include "board/deviceio.h"
#include "board/process.h"
#include "board/sim/simboard.h"
#include "chargeview/mainwindow.h"

#include <QApplication>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

namespace {

constexpr const char* kVersion = "1.05";
constexpr const char* kMarkerFile = "/var/tmp/powerOffAllowed";
constexpr const char* kBuzzer = "/sys/class/leds/led426/brightness";
constexpr const char* kBacklightPower = "/sys/class/backlight/backlight.22/bl_power";
constexpr const char* kBacklightBrightness = "/sys/class/backlight/backlight.22/brightness";
constexpr const char* kPowerKeyDevice = "/dev/input/event1";
constexpr int kPowerKeyCode = 47;

// The marker's host path, prepared before any signal can need it.
char g_markerPath[4096];

void removeMarker() { ::unlink(g_markerPath); }

// A signal ends the screen as it would have ended the process, without the marker left behind:
// the battery daemon would otherwise halt a running instrument when the charger goes.
void onEndSignal(int sig)
{
    removeMarker();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void writeBoardValue(const char* path, const char* value)
{
    const int fd = deviceIO().open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (deviceIO().write(fd, value, std::strlen(value)) < 0) {
    }
    deviceIO().close(fd);
}

void* powerKeyThread(void*)
{
    const int fd = deviceIO().open(kPowerKeyDevice, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;  // the key is not watched
    struct input_event ev;
    size_t have = 0;
    for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        const int ready = deviceIO().poll(&p, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        const ssize_t n = deviceIO().read(fd, reinterpret_cast<char*>(&ev) + have, sizeof ev - have);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;  // end of file or error: a readable descriptor would spin
        have += static_cast<size_t>(n);
        if (have < sizeof ev)
            continue;
        have = 0;
        if (ev.code == kPowerKeyCode) {
            deviceIO().close(fd);
            removeMarker();
            ::_exit(1);
        }
    }
    deviceIO().close(fd);
    return nullptr;
}

void prepareSimulatedBoard()
{
    simboard::TScenario scenario;
    if (kSimulatedBoard) {
        simboard::prepareCompanionBoard(&scenario);
        simboard::registerBoardProgram("chargeview");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (printVersionOption(argc, argv, kVersion))
        return 0;
    prepareSimulatedBoard();
    std::snprintf(g_markerPath, sizeof g_markerPath, "%s", boardPath(kMarkerFile).c_str());

    const int buzzer = deviceIO().open(kBuzzer, O_WRONLY | O_CLOEXEC);
    if (buzzer >= 0) {
        deviceIO().write(buzzer, "255", 3);
        pauseMs(70);
        deviceIO().write(buzzer, "0", 1);
        deviceIO().close(buzzer);
    }
    // The handlers come first: a signal right after the marker's creation would leave it behind.
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    // Held open for the life of the process; only its existence matters.
    deviceIO().open(kMarkerFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    writeBoardValue(kBacklightPower, "0");
    writeBoardValue(kBacklightBrightness, "5");
    pthread_t keyThread;
    startThread(&keyThread, powerKeyThread, nullptr, 45, true, "powerkey");

    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    app.setStyleSheet("QMainWindow {background: grey}");
    auto* window = new MainWindow;
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->resize(800, 480);
    window->show();
    po_g_mainWindow = window;
    app.exec();
    removeMarker();
    endProcess(1);
}
