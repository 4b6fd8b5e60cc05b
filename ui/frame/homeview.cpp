#include "ui/frame/homeview.h"

#include "acquisition/TFonction.h"
#include "board/board.h"
#include "board/deviceio.h"
#include "board/netif.h"
#include "board/systools.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "core/setup.h"
#include "core/sysserv.h"
#include "network/user_int.h"

#include <QDateTime>
#include <QImage>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

HomeView* po_g_homeView = nullptr;

namespace {
constexpr int kRefreshIntervalMs = 15000;
constexpr const char* kUpdateIndex = "/media/private/update/index";
constexpr const char* kDownloadOk = "/media/private/update/downloadOk";
constexpr const char* kUpdateOk = "/media/private/update/updateOk";
constexpr const char* kDownloadRunning = "/tmp/downloadRunning";
// "reboot" normally returns at once; the wait only bounds a board that hangs in it.
constexpr int kRebootWaitMs = 10000;
// Message numbers of the pop-up.
constexpr int kMessageFileError = 19;
constexpr int kMessageScreenshot = 25;

bool canOpenForReading(const char* path)
{
    int fd = ::open(boardPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}
} // namespace

HomeView::HomeView(QWindow* parent)
    : QQuickWindow(parent)
    , guiThread_(QThread::currentThreadId())
{
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(this, SIGNAL(refreshAllowedSignal(bool)), this, SLOT(refreshAllowedSlot(bool)));
    connect(this, SIGNAL(screenshotSignal(QString)), this, SLOT(screenshotSlot(QString)));
    connect(refreshTimer_, &QTimer::timeout, this, &HomeView::refreshSlot);
    refreshTimer_->start();
}

HomeView::~HomeView()
{
    disconnect(this, SIGNAL(refreshAllowedSignal(bool)), this, SLOT(refreshAllowedSlot(bool)));
    disconnect(this, SIGNAL(screenshotSignal(QString)), this, SLOT(screenshotSlot(QString)));
    disconnect(refreshTimer_, &QTimer::timeout, this, &HomeView::refreshSlot);
}

template <typename F>
void HomeView::inGuiThread(F f)
{
    if (QThread::currentThreadId() == guiThread_)
        f();
    else
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void HomeView::saveSetupAndEnd(int status)
{
    // The save syncs; the process ends without running destructors under the detached threads.
    SetupSave("setup", true, "");
    endProcess(status);
}

// ---- Properties

QString HomeView::build() const
{
    // __DATE__ is "Mmm dd yyyy" with a blank before a one-digit day.
    QString date = QStringLiteral(__DATE__);
    if (date.size() > 4 && date[4] == QLatin1Char(' '))
        date[4] = QLatin1Char('0');
    return date;
}

QString HomeView::communicationIcon() const
{
    for (const auto& netif : networkInterfaces()) {
        if (netif.name == "wifi0" && netif.up && !netif.ipv4.empty())
            return QStringLiteral("images/wifi.png");
    }
    return QStringLiteral("images/ethernet.png");
}

QString HomeView::ipAddress() const
{
    QString address;
    for (const auto& netif : networkInterfaces()) {
        if (!netif.up || (netif.name != "eth0" && netif.name != "wifi0"))
            continue;
        for (const auto& entry : netif.ipv4)
            address = QString::fromStdString(entry.address);
    }
    return address;
}

// ---- Bridge

void HomeView::screenMaj(int parameter)
{
    inGuiThread([this, parameter] { emit screenMajSignal(parameter); });
}

void HomeView::screenRefresh()
{
    // Checked now: a notice that comes while refreshing is held back is lost.
    if (!refreshAllowed_.load())
        return;
    if (QThread::currentThreadId() == guiThread_) {
        emit screenRefreshSignal();
        return;
    }
    // The cycle may notify several hundred times a second: notices that come while one is on its
    // way make one refresh, and refreshes keep one display frame apart.
    if (refreshQueued_.exchange(true))
        return;
    QMetaObject::invokeMethod(this, [this] { deliverRefresh(); }, Qt::QueuedConnection);
}

void HomeView::deliverRefresh()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < nextRefreshDue_) {
        // A precise timer, rounded up: a coarse one may come several milliseconds late, and
        // a refresh before its time would only wait again.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextRefreshDue_ - now);
        QTimer::singleShot(static_cast<int>(wait.count()), Qt::PreciseTimer, this, [this] { deliverRefresh(); });
        return;
    }
    // The next one is due a frame after this one was due, not after it came: a late timer or a
    // busy thread does not stretch every frame. After a pause the count starts again from now.
    nextRefreshDue_ = now - nextRefreshDue_ < kDisplayFrame ? nextRefreshDue_ + kDisplayFrame : now + kDisplayFrame;
    refreshQueued_.store(false);
    emit screenRefreshSignal();
}

void HomeView::screenRaz()
{
    // Decided in the GUI thread, where views are created and destroyed: a mode change that
    // follows before the first view exists then finds that view. Each notice is numbered and
    // names the mode written before it. A view made since it was sent already shows that mode;
    // so does a view made between the write and the notice (its mode is one no notice had named
    // yet). Either way the notice has nothing left to do: making the view again would make a
    // recorder twice, which starts a second file.
    const uint16_t mode = data.instrumentMode;
    uint64_t last = lastNotice_.load();
    while (!lastNotice_.compare_exchange_weak(last, ((last >> 32) + 1) << 32 | mode)) {
    }
    const uint32_t notice = static_cast<uint32_t>(last >> 32) + 1;
    inGuiThread([this, notice, mode] {
        const int32_t since = static_cast<int32_t>(notice - viewMadeAfter_);
        if (since <= 0)
            return;
        if (since == 1 && viewAhead_ && mode == scopeMode_.load()) {
            viewMadeAfter_ = notice;
            viewAhead_ = false;
            return;
        }
        if (viewOfMode(scopeMode_.load()).isEmpty())
            childKilled();
        else
            emit screenRazSignal();
    });
}

void HomeView::screenMessage(int code, const char* text)
{
    // Converted before returning: the caller's buffer may change afterwards.
    const QString copy = text ? QString::fromUtf8(text) : QString();
    inGuiThread([this, code, copy] { emit screenMessageSignal(code, copy); });
}

void HomeView::screenIhm(int code, int a, int b)
{
    if (code == 3 && b == 180)
        saveSetupAndEnd(kExitPanel);
    inGuiThread([this, code, a, b] { emit screenIhmSignal(code, a, b); });
}

void HomeView::screenHardcopy(char* name)
{
    const QString copy = QString::fromUtf8(name ? name : "");
    inGuiThread([this, copy] { emit screenshotSignal(copy); });
}

void HomeView::screenKalvex()
{
    inGuiThread([this] { emit displayKalvexSignal(); });
}

void HomeView::screenManualMeasurement()
{
    inGuiThread([this] { emit screenManualMeasurementSignal(); });
}

void HomeView::screenAutomaticMeasurement()
{
    inGuiThread([this] { emit screenAutomaticMeasurementSignal(); });
}

void HomeView::setBrandVisible(bool visible)
{
    brandVisible_.store(visible);
    inGuiThread([this, visible] { emit displayBrandSignal(visible); });
}

void HomeView::showWindow()
{
    // A window is shown from its own thread only.
    inGuiThread([this] { show(); });
}

void HomeView::refreshConfig()
{
    inGuiThread([this] { emit refreshConfigSignal(); });
}

// ---- QML

void HomeView::childKilled()
{
    inGuiThread([this] {
        // The remote status must not go on naming what the view that went showed.
        clearPelanodeViewStatus();
        // Read before the mode: every notice counted was sent after its mode was written.
        const uint64_t last = lastNotice_.load();
        const uint16_t mode = data.instrumentMode;
        viewMadeAfter_ = static_cast<uint32_t>(last >> 32);
        viewAhead_ = mode != static_cast<uint16_t>(last);
        scopeMode_.store(mode);
        emit createInstrumentSignal();
        // No event loop pass here: this runs inside the old view's destruction, and its items,
        // not yet deleted, would act on queued notices after the switch (the recorder's status
        // line named its file again once the home screen was back). The loop runs right after.
    });
}

int HomeView::launchConfig()
{
    saveSetupAndEnd(kExitConfiguration);
}

int HomeView::launchFileMan()
{
    saveSetupAndEnd(kExitFileManager);
}

bool HomeView::verifyFunctionValidity(const QString& expression)
{
    // One scratch function for the whole run (GUI thread only).
    static TFonction* checker = [] {
        char empty[] = "";
        return new TFonction(0, empty);
    }();
    QByteArray text = expression.toUtf8();
    checker->SetFonctionString(text.data(), false);
    return checker->AnalyseSyntaxique() && checker->AnalyseSemantique();
}

bool HomeView::isUpdateAvailable()
{
    return canOpenForReading(kUpdateIndex) && canOpenForReading(kDownloadOk);
}

void HomeView::setUpdateOk()
{
    // Without the marker the update would not be installed after the reboot, and with
    // downloadOk gone it would no longer be offered: keep everything and say so.
    int fd = ::open(boardPath(kUpdateOk).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        screenMessage(kMessageFileError, "updateOk");
        return;
    }
    ::close(fd);
    ::unlink(boardPath(kDownloadOk).c_str());
    deviceIO().syncAll();
    runSystemTool("reboot", {}, kRebootWaitMs);
}

QString HomeView::viewOfMode(int mode) const
{
    switch (mode) {
    case 0x10:
    case 0x12:
    case 0x13:
        return QStringLiteral("ScopeView.qml");
    case 0x11:
        return QStringLiteral("BusAnalysisView.qml");
    case 0x40:
        return QStringLiteral("HarmonicView.qml");
    case 0x80:
    case 0x81:
        return QStringLiteral("MeterView.qml");
    case 0x82:
        return QStringLiteral("LoggerView.qml");
    case 0x100:
        return QStringLiteral("ViewerView.qml");
    default:
        return QString();
    }
}

// ---- Slots

void HomeView::refreshAllowedSlot(bool allowed)
{
    const bool was = refreshAllowed_.exchange(allowed);
    // One refresh makes up for every notice dropped while it was held back.
    if (allowed && !was)
        emit screenRefreshSignal();
}

QString HomeView::screenshotFileName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("tavlin_%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")), QStringLiteral("png"));
    return name.endsWith(QLatin1String(".png")) ? name : name + QStringLiteral(".png");
}

void HomeView::screenshotSlot(const QString& name)
{
    const QString fileName = screenshotFileName(name);
    // The name comes from remote clients too: it names a file in the screenshots folder, never
    // a path elsewhere.
    if (fileName.contains(QLatin1Char('/'))) {
        screenMessage(kMessageFileError, fileName.toUtf8().constData());
        return;
    }

    QImage picture = grabWindow().convertToFormat(QImage::Format_Indexed8);
    QThread::msleep(100);

    const std::string root = isSdcardPresent() ? "/media/user/sdcard_p1" : "/media/user";
    const std::string directory = boardPath(root + "/screenshots");
    screenMessage(kMessageScreenshot, fileName.toUtf8().constData());
    struct stat st;
    if (::stat(directory.c_str(), &st) != 0)
        ::mkdir(directory.c_str(), 0777);
    const QString path = QString::fromStdString(directory) + QLatin1Char('/') + fileName;
    if (picture.isNull() || !picture.save(path, "PNG"))
        screenMessage(kMessageFileError, fileName.toUtf8().constData());
    deviceIO().syncAll();
}

void HomeView::refreshSlot()
{
    if (canOpenForReading(kDownloadRunning)) {
        emit refreshInfoToolSignal(true);
        return;
    }
    emit refreshInfoToolSignal(false);
    // For good: nothing starts it again.
    refreshTimer_->stop();
}
