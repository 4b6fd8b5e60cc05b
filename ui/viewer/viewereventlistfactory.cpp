// Event-list worker: one pass of a small automaton over a channel's viewer codes, in a parked
// thread that each exec() wakes for one more search.
#include "ui/viewer/viewereventlistfactory.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "board/process.h"
#include "core/filehdr.h"
#include "core/fileio.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/sysserv.h"
#include "ui/frame/homeview.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kLevelMirror = 1048512;  // stored level L to sample code
constexpr uint32_t kHysteresis = 8190;      // 1/32 of the full span
constexpr uint32_t kInvalidWord = 0x40000000;
constexpr double kCentreCode = 524256.0;
constexpr double kSpanCodes = 262080.0;
constexpr int kMessageSaved = 14;
constexpr int kMessageWriteFailed = 19;

uint32_t* sourceBuffer(int16_t source)
{
    switch (source) {
    case 0:
        return TAcquisition::Voie1Normalisee;
    case 1:
        return TAcquisition::Voie2Normalisee;
    case 2:
        return TAcquisition::Voie3Normalisee;
    case 3:
        return TAcquisition::Voie4Normalisee;
    default:
        return nullptr;
    }
}

bool writeWhole(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

void showMessage(int code, const QString& name)
{
    if (po_g_homeView)
        po_g_homeView->screenMessage(code, name.toUtf8().constData());
}

} // namespace

ViewerEventListFactory::ViewerEventListFactory(QObject* parent) : QThread(parent) {}

ViewerEventListFactory::~ViewerEventListFactory()
{
    {
        QMutexLocker lock(&mutex_);
        stop_ = true;
        wake_.wakeAll();
    }
    wait();
}

void ViewerEventListFactory::setFilterParams(database* setup)
{
    QMutexLocker lock(&mutex_);
    source_ = setup->eventSource;
    type_ = static_cast<uint16_t>(setup->eventType);
    // A recalled setup may hold any duration; 0 would never count down.
    duration_ = setup->eventDuration < 1 ? 1u : static_cast<uint32_t>(setup->eventDuration);
    // Outside 0..3 no buffer: a previous channel's list would name the wrong channel.
    buffer_ = sourceBuffer(source_);
    codeA_ = kLevelMirror - static_cast<uint32_t>(setup->eventLevel1);
    codeB_ = kLevelMirror - static_cast<uint32_t>(setup->eventLevel2);
    if (type_ != 4)
        codeB_ = codeA_;
    else if (codeA_ < codeB_)
        std::swap(codeA_, codeB_);
    codeAMinusHyst_ = codeA_ - kHysteresis;
    codeBPlusHyst_ = codeB_ + kHysteresis;
    state_ = 1;
}

void ViewerEventListFactory::init(QString fileName)
{
    TFileHeader header;
    uint32_t start = 0;
    bool dated = false;
    if (ReadFileHeader(QFile::encodeName(fileName).toStdString(), header) == 0) {
        const QDateTime date = QDateTime::fromString(QString::fromLatin1(header.dateText, 19),
                                                     QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
        if (date.isValid()) {
            start = static_cast<uint32_t>(date.toSecsSinceEpoch());
            dated = true;
        }
    }
    QMutexLocker lock(&mutex_);
    fileName_ = fileName;
    if (dated)
        startTime_ = start;
}

void ViewerEventListFactory::exec()
{
    QMutexLocker lock(&mutex_);
    listReady_ = false;
    if (!isRunning()) {
        start(QThread::LowPriority);
    } else {
        restart_ = true;
        wake_.wakeAll();
    }
}

void ViewerEventListFactory::run()
{
    QMutexLocker lock(&mutex_);
    while (!stop_) {
        // Requests made before this search took the mutex are all served by it.
        restart_ = false;
        eventList_.clear();
        findEvents();
        listReady_ = true;
        listReadyCondition_.wakeAll();
        lock.unlock();
        emit eventListCreatedSignal();
        lock.relock();
        while (!restart_ && !stop_)
            wake_.wait(&mutex_);
    }
}

void ViewerEventListFactory::getEventList(QStringList& list)
{
    QMutexLocker lock(&mutex_);
    while (!listReady_)
        listReadyCondition_.wait(&mutex_);
    list << eventList_;
}

void ViewerEventListFactory::clear()
{
    {
        QMutexLocker lock(&mutex_);
        eventList_.clear();
        listReady_ = true;
        listReadyCondition_.wakeAll();
    }
    emit eventListCreatedSignal();
}

void ViewerEventListFactory::findEvents()
{
    if (!buffer_ || type_ < 1 || type_ > 4)
        return;
    uint32_t count = 0;
    // Entering a counting state loads the count and counts the entering sample.
    const auto enterCounting = [this, &count](uint16_t state, uint32_t index) {
        state_ = state;
        count = duration_;
        if (--count == 0) {
            addEventToList(index - duration_);
            state_ = 1;
        }
    };
    for (uint32_t i = 0; i < TAcquisition::kNormalisedSamples; ++i) {
        const uint32_t x = buffer_[i];
        if (x >= kInvalidWord)
            continue;
        switch (state_) {
        case 1:
            switch (type_) {
            case 1:
                if (x < codeAMinusHyst_)
                    state_ = 10;
                break;
            case 2:
                if (x > codeBPlusHyst_)
                    state_ = 9;
                break;
            case 3:
                if (x < codeAMinusHyst_)
                    state_ = 10;
                else if (x > codeBPlusHyst_)
                    state_ = 9;
                break;
            default:
                if (x > codeBPlusHyst_ && x >= codeAMinusHyst_)
                    state_ = 12;
                else if (x > codeBPlusHyst_ && x < codeAMinusHyst_)
                    state_ = 11;
                else if (x <= codeBPlusHyst_ && x < codeAMinusHyst_)
                    state_ = 13;
                break;
            }
            break;
        case 9:
            if (x < codeB_)
                enterCounting(14, i);
            break;
        case 10:
            if (x > codeA_)
                enterCounting(15, i);
            break;
        case 11:
            if (x < codeB_)
                enterCounting(14, i);
            else if (x > codeA_)
                enterCounting(15, i);
            break;
        case 12:
            if (x < codeB_)
                enterCounting(14, i);
            else if (x < codeAMinusHyst_)
                state_ = 11;
            break;
        case 13:
            if (x > codeA_)
                enterCounting(15, i);
            else if (x > codeBPlusHyst_)
                state_ = 11;
            break;
        case 14:
            if (x < codeB_) {
                if (--count == 0) {
                    addEventToList(i - duration_);
                    state_ = 1;
                }
            } else if (x >= codeBPlusHyst_) {
                state_ = 1;
            } else {
                count = duration_;
            }
            break;
        case 15:
            if (x > codeA_) {
                if (--count == 0) {
                    addEventToList(i - duration_);
                    state_ = 1;
                }
            } else if (x <= codeAMinusHyst_) {
                state_ = 1;
            } else {
                count = duration_;
            }
            break;
        default:
            break;
        }
    }
}

void ViewerEventListFactory::addEventToList(unsigned long index)
{
    if (eventList_.size() > 199)
        return;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(startTime_) + static_cast<qint64>(index / 5));
    eventList_ << at.toString(QStringLiteral("yyyy-MM-dd,hh:mm:ss.")) + QString::number((index % 5) * 2)
            + QLatin1Char('|') + QString::number(index);
}

bool ViewerEventListFactory::saveToFile()
{
    QMutexLocker lock(&mutex_);
    const TSetupLinks& links = setupLinks();
    TAcquisition* trace = source_ == 1 ? links.acqCh2 : source_ == 2 ? links.acqCh3 : source_ == 3 ? links.acqCh4 : links.acqCh1;
    double k = 0.0;
    QString unit;
    if (trace) {
        double span = 0.0;
        trace->GetMMRange(&span, nullptr, nullptr);
        k = span / kSpanCodes;
        unit = GetVerticalUnit(trace, trace->meterScale, true);
    }
    const auto level = [k, &unit](uint32_t code) {
        return QString::asprintf("%f", k * (kCentreCode - static_cast<double>(code))) + unit;
    };
    QString description = QStringLiteral("CH") + QString::number(source_ + 1);
    switch (type_) {
    case 1:
        description += QStringLiteral(" < ") + level(codeA_);
        break;
    case 2:
        description += QStringLiteral(" > ") + level(codeA_);
        break;
    case 3:
        description += QStringLiteral(" < ") + level(codeA_) + QStringLiteral(" or  > ") + level(codeA_);
        break;
    case 4:
        description += QStringLiteral(" < ") + level(codeA_) + QStringLiteral(" or  > ") + level(codeB_);
        break;
    default:
        return false;
    }

    const std::string dir =
        boardPath(std::string(isSdcardPresent() ? "/media/user/sdcard_p1" : "/media/user") + "/logger-events");
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        ::mkdir(dir.c_str(), 0777);
    const int dot = fileName_.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? fileName_ : fileName_.left(dot);

    // Written under a temporary name and published whole under the first free name: never a
    // partial list that looks saved, never an existing file replaced.
    QString name = base + QStringLiteral(".txt");
    TAtomicFile file(dir + "/" + QFile::encodeName(name).toStdString(), true);
    const int fd = file.fd();
    if (fd < 0) {
        showMessage(kMessageWriteFailed, name);
        return true;
    }

    bool failed = WriteFileHeader(fd, kFileTypeText, "", -1) != 0;
    QString text = QStringLiteral("\r\nEvents detected in file: ") + fileName_ + QStringLiteral("\r\n\r\nEvent type: ")
        + description + QStringLiteral("\r\n\r\n#       Time\r\n");
    failed = failed || !writeWhole(fd, text.toUtf8());
    int number = 1;
    for (const QString& entry : eventList_) {
        if (failed)
            break;
        const QString line = QString::number(number++).leftJustified(8) + entry.left(entry.lastIndexOf(QLatin1Char('|')))
            + QStringLiteral("\r\n");
        failed = !writeWhole(fd, line.toUtf8());
    }
    for (unsigned next = 1; !failed; ++next) {
        if (file.commit())
            break;
        if ((failed = errno != EEXIST))
            break;
        name = base + QLatin1Char('_') + QString::number(next) + QStringLiteral(".txt");
        file.retarget(dir + "/" + QFile::encodeName(name).toStdString());
    }
    if (failed) {
        showMessage(kMessageWriteFailed, name);
        return true;
    }
    showMessage(kMessageSaved, name);
    pauseMs(100);
    return false;
}
