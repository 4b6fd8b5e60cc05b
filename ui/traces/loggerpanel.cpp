#include "ui/traces/loggerpanel.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "board/clock.h"
#include "board/deviceio.h"
#include "core/filehdr.h"
#include "core/fileio.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/root.h"
#include "core/sysserv.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"
#include "ui/traces/loggerchannel.h"
#include "ui/traces/loggerpowerchannel.h"
#include "ui/frame/metermeasurement.h"
#include "ui/frame/powermeasurement.h"
#include "ui/traces/viewerchannel.h"

#include <QDateTime>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMessageClear = 0;
constexpr long kTickNs = 200000000L;
constexpr int kNameSize = 50;
constexpr int kNameBuffers = 8;
constexpr int kMaxNameSuffix = 99;

int s_livePanels = 0;

// The controller reads a posted name later: a ring of buffers that live for the process.
char s_names[kNameBuffers][kNameSize];
int s_nextName = 0;

void postScreenMessage(int message)
{
    pipe_dial request{REQ_SCREEN, 2, 0, message, 0.0f, senderValue(TRAD_id)};
    // A full box loses the record; nothing is retried.
    o_g_consMessageBox.send(&request);
}

void postFileName(const QString& name)
{
    char* buffer = s_names[s_nextName];
    s_nextName = (s_nextName + 1) % kNameBuffers;
    copyUtf8Cut(name, buffer, kNameSize);
    pipe_dial request{REQ_SET_PARAM, param::loggerFileName, 0, reinterpret_cast<intptr_t>(buffer), 0.0f,
                      senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

timespec plusTicks(timespec t, uint32_t ticks)
{
    t.tv_sec += static_cast<time_t>(ticks / 5);
    t.tv_nsec += static_cast<long>(ticks % 5) * kTickNs;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

} // namespace

int recordWidth(uint16_t channels)
{
    int n = 0;
    for (int i = 0; i < 4; ++i)
        n += (channels >> i) & 1;
    return n + ((channels & ViewerPanel::kPowerBit) ? 1 : 0);
}

int LoggerPanel::livePanels()
{
    return s_livePanels;
}

LoggerPanel::LoggerPanel(QQuickItem* parent) : ViewerPanel(parent), sink_(std::make_shared<Sink>())
{
    // A mode change builds the next view before the old one goes: only the first panel removes
    // the activity mark, only the last one puts it back.
    if (s_livePanels++ == 0)
        ::unlink(boardPath(kActivityMarkFile).c_str());
    timer_ = new QTimer(this);
    // Through the member pointer the derived panel's step runs.
    connect(timer_, &QTimer::timeout, this, &LoggerPanel::refreshSlot);
    timer_->setTimerType(Qt::PreciseTimer);
    startTime_ = boardClock().realtime();
    nextFileStart_ = startTime_;
    startTicks_ = boardClock().monotonic();
    timer_->start(200);
}

LoggerPanel::~LoggerPanel()
{
    disconnect(connections_[1]);
    timer_->stop();
    disconnect(timer_, nullptr, this, nullptr);
    delete timer_;
    timer_ = nullptr;
    {
        std::lock_guard<std::timed_mutex> hold(sink_->lock);
        flushLocked();
        closeFileLocked();
    }
    if (--s_livePanels == 0) {
        const int fd = ::open(boardPath(kActivityMarkFile).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd >= 0)
            ::close(fd);
    }
    postScreenMessage(kMessageClear);
}

MeterChannel* LoggerPanel::makeChannelBox(bool power)
{
    if (power)
        return new ViewerChannel(this);
    return new LoggerChannel(this);
}

PowerChannel* LoggerPanel::makePowerBox()
{
    return new LoggerPowerChannel(this);
}

void LoggerPanel::setLayout()
{
    ViewerPanel::setLayout();
}

void LoggerPanel::displayKalvexSlot()
{
    applyColours(false);
}

void LoggerPanel::screenMajSlot(int code)
{
    switch (code) {
    case param::traceOnCh1:
    case param::traceOnCh2:
    case param::traceOnCh3:
    case param::traceOnCh4:
    case 29:
        displayKalvexSlot();
        refresh();
        setLayout();
        break;
    case param::channelFlags:
    case param::meterFunction:
        refresh();
        setLayout();
        break;
    default:
        break;
    }
}

int64_t LoggerPanel::ticks() const
{
    const timespec now = boardClock().monotonic();
    int64_t seconds = static_cast<int64_t>(now.tv_sec) - startTicks_.tv_sec;
    long ns = now.tv_nsec - startTicks_.tv_nsec;
    if (ns < 0) {
        ns += 1000000000L;
        --seconds;
    }
    return 5 * seconds + ns / kTickNs;
}

void LoggerPanel::restartRecording()
{
    startTime_ = boardClock().realtime();
    nextFileStart_ = startTime_;
    startTicks_ = boardClock().monotonic();
    counter_ = 0;
}

uint16_t LoggerPanel::recordedChannels() const
{
    // Only streams that have a source: the file's block must tell the record width exactly.
    uint16_t out = 0;
    for (int i = 0; i < 4; ++i) {
        if ((channels_ & (1u << i)) && measurements_[i])
            out = static_cast<uint16_t>(out | (1u << i));
    }
    if ((channels_ & kPowerBit) && powerBox_ && powerMeasurement_)
        out = static_cast<uint16_t>(out | kPowerBit);
    return out;
}

void LoggerPanel::refreshSlot()
{
    const uint16_t recorded = recordedChannels();
    const int16_t function = data.meterFunction;
    std::unique_lock<std::timed_mutex> hold(sink_->lock);
    if ((recorded & 0xF) == 0) {
        // Nothing to record: no file is held.
        if (keyed_) {
            flushLocked();
            closeFileLocked();
            keyed_ = false;
            restartPending_ = true;
        }
        hold.unlock();
        // Every channel off: the recording is refused aloud, not shown running while it writes
        // nothing.
        if ((data.channelFlags & 0xF) == 0 && !noChannelPosted_) {
            postScreenMessage(kMessageNoChannel);
            noChannelPosted_ = true;
        }
        return;
    }
    noChannelPosted_ = false;
    if (keyed_ && (recorded != fileChannels_ || function != fileFunction_)) {
        // One file holds one record width: the current one ends, a new recording starts.
        flushLocked();
        closeFileLocked();
        keyed_ = false;
        restartPending_ = true;
    }
    if (!keyed_) {
        if (restartPending_)
            restartRecording();
        restartPending_ = false;
        openPending_ = false;
        sink_->fill = 0;
        fileChannels_ = recorded;
        fileFunction_ = function;
        sink_->width = static_cast<uint16_t>(recordWidth(recorded));
        keyed_ = true;
    }
    hold.unlock();

    const int64_t due = (ticks() % kRecordsPerFile) - static_cast<int64_t>(counter_);
    const int64_t passes = due < 1 ? 1 : (due > 10 ? 10 : due);
    bool writeError = false;
    for (int64_t p = 0; p < passes; ++p)
        writeError = recordPass(writeError) || writeError;
    if (writeError)
        postScreenMessage(kMessageLoggerFull);
}

bool LoggerPanel::recordPass(bool earlierError)
{
    Sink& s = *sink_;
    std::unique_lock<std::timed_mutex> opening(s.lock);
    if (s.fd < 0 && counter_ == 0 && !openPending_) {
        s.fill = 0;
        fileStart_ = nextFileStart_;
        nextFileStart_.tv_sec += kFileSeconds;
        openFileLocked(fileStart_);
    }
    opening.unlock();

    // This pass's values: the power is computed from them (0 while a channel has none).
    float kept[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    uint32_t words[5];
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        if ((fileChannels_ & (1u << i)) == 0)
            continue;
        MeterMeasurement* m = measurements_[i];
        float v = 0.0f;
        int status = MEASURE_INVALID;
        if (m) {
            if (boxes_[i])
                boxes_[i]->trigger(m);
            status = m->numericValue(&v);
        }
        if (TAcquisition* t = channelTrace(i))
            t->putLoggerMeasurement(static_cast<TMeasureStatus>(status), v);
        kept[i] = status == MEASURE_VALID ? v : std::numeric_limits<float>::quiet_NaN();
        uint32_t bits = kInvalidWord;
        if (status == MEASURE_VALID)
            std::memcpy(&bits, &v, sizeof bits);
        words[n++] = bits;
    }
    if (fileChannels_ & kPowerBit) {
        float v = 0.0f;
        int status = MEASURE_INVALID;
        if (powerMeasurement_) {
            powerMeasurement_->compute(kept[0], kept[3]);
            if (powerBox_)
                powerBox_->trigger(powerMeasurement_);
            status = powerMeasurement_->numericValue(&v);
        }
        if (TAcquisition* t = setupLinks().powerAcq)
            t->putLoggerMeasurement(static_cast<TMeasureStatus>(status), v);
        uint32_t bits = kInvalidWord;
        if (status == MEASURE_VALID)
            std::memcpy(&bits, &v, sizeof bits);
        words[n++] = bits;
    }

    std::lock_guard<std::timed_mutex> hold(s.lock);
    bool error = false;
    if (s.fill + n > kBufferValues)
        error = !flushLocked();
    for (int k = 0; k < n; ++k)
        s.buffer[s.fill++] = qToLittleEndian(words[k]);
    ++counter_;
    if (counter_ >= kRecordsPerFile || s.fill >= kBufferValues) {
        error = !flushLocked() || error;
        if (counter_ >= kRecordsPerFile || error)
            closeFileLocked();
        if (counter_ >= kRecordsPerFile) {
            counter_ = 0;
            openPending_ = false;
        }
    } else if (earlierError || error) {
        closeFileLocked();
    }
    if (error && counter_ != 0)
        openPending_ = true;
    return error;
}

bool LoggerPanel::flushLocked()
{
    Sink& s = *sink_;
    bool ok = true;
    if (s.fd < 0 && openPending_ && s.fill > 0 && s.width > 0) {
        // The file takes the buffered records: it is named after the first of them.
        const uint32_t buffered = s.fill / s.width;
        const uint32_t first = counter_ >= buffered ? counter_ - buffered : 0;
        if (openFileLocked(plusTicks(fileStart_, first)))
            openPending_ = false;
    }
    if (s.fd >= 0 && s.fill > 0) {
        const size_t size = static_cast<size_t>(s.fill) * sizeof(uint32_t);
        ok = writeAll(s.fd, s.buffer, size);
        ::fdatasync(s.fd);
    }
    s.fill = 0;
    return ok;
}

bool LoggerPanel::openFileLocked(timespec t)
{
    const int fd = openFile(t);
    if (fd < 0) {
        openPending_ = true;
        if (!openFailurePosted_)
            postScreenMessage(kMessageLoggerFull);
        openFailurePosted_ = true;
        return false;
    }
    openFailurePosted_ = false;
    sink_->fd = fd;
    std::shared_ptr<Sink> sink = sink_;
    endAction_ = registerEndAction([sink] {
        // The GUI thread may be writing itself: the instrument goes off anyway.
        if (!sink->lock.try_lock_for(std::chrono::milliseconds(500)))
            return;
        if (sink->fd >= 0) {
            const uint16_t whole = sink->width ? static_cast<uint16_t>(sink->fill - sink->fill % sink->width) : 0;
            writeAll(sink->fd, sink->buffer, static_cast<size_t>(whole) * sizeof(uint32_t));
            ::fdatasync(sink->fd);
            ::close(sink->fd);
            sink->fd = -1;
        }
        sink->fill = 0;
        sink->lock.unlock();
    });
    return true;
}

void LoggerPanel::closeFileLocked()
{
    if (endAction_) {
        removeEndAction(endAction_);
        endAction_ = 0;
    }
    Sink& s = *sink_;
    if (s.fd >= 0) {
        ::close(s.fd);
        s.fd = -1;
        deviceIO().syncAll();
    }
}

QString LoggerPanel::fileNameOf(timespec t)
{
    return QStringLiteral("tavlin_%1")
        .arg(QDateTime::fromSecsSinceEpoch(t.tv_sec).toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")));
}

std::string LoggerPanel::loggerFolder()
{
    return boardPath(isSdcardPresent() ? "/media/user/sdcard_p1/logger" : "/media/user/logger");
}

int LoggerPanel::openFile(timespec t)
{
    const std::string dir = loggerFolder();
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return -1;
    const QString base = fileNameOf(t);
    // The head is written under a temporary name and published whole: a crash meanwhile leaves
    // no recording without its head.
    TAtomicFile file(dir + "/" + base.toStdString() + ".rec", true);
    const int head = file.fd();
    if (head < 0)
        return -1;
    bool ok = WriteFileHeader(head, kFileTypeRecording, "", static_cast<int32_t>(t.tv_sec)) == 0;
    uint8_t block[64] = {};
    const uint16_t flags = static_cast<uint16_t>((channels_ & ~(0xFu | kPowerBit)) | fileChannels_);
    qToLittleEndian<uint16_t>(flags, block);
    qToLittleEndian<uint16_t>(static_cast<uint16_t>(fileFunction_), block + 2);
    ok = ok && writeAll(head, block, sizeof block);
    for (int i = 0; i < 5 && ok; ++i) {
        const uint16_t bit = i < 4 ? static_cast<uint16_t>(1u << i) : kPowerBit;
        if ((fileChannels_ & bit) == 0)
            continue;
        TAcquisition* t = i < 4 ? channelTrace(i) : setupLinks().powerAcq;
        // Without its trace the block would be missing and the records misread.
        if (!t) {
            ok = false;
            break;
        }
        t->loggerCount = 0;
        t->loggerValues = 0;
        ok = t->writeLoggerInfos(head) == 0;
    }
    if (!ok)
        return -1;
    // An existing recording is never overwritten: the next free suffix is taken.
    QString name;
    int fd = -1;
    for (int k = 0; k <= kMaxNameSuffix && fd < 0; ++k) {
        name = k == 0 ? base : base + QStringLiteral("_%1").arg(k);
        file.retarget(dir + "/" + name.toStdString() + ".rec");
        if (file.commitKeepingOpen(&fd))
            break;
        if (errno != EEXIST)
            return -1;
    }
    if (fd < 0)
        return -1;
    // The name as the file has it: the viewer reopens the file by this name.
    postFileName(name + QStringLiteral(".rec"));
    return fd;
}
