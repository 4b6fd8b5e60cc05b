#include "ui/traces/automeascomputethread.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "ui/traces/automeaschannel.h"

#include <QCoreApplication>

#include <ctime>
#include <pthread.h>
#include <sched.h>

const uint16_t tus_g_measId[kAutoMeasCount] = {0x1000, 0x1010, 0x1020, 0x1030, 0x1040, 0x1050, 0x1070,
                                               0x10c0, 0x1080, 0x10b0, 0x10,   0x20,   0x30,   0x40,
                                               0x60,   0x70,   0x50,   0x80,   0x1090, 0x10a0};

namespace {
const char* const kTitles[kAutoMeasCount] = {
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vmin"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vmax"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vpp"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vlow"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vhigh"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vamp"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vrms"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vrms_c"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "vavg"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "sum"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "trise"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "tfall"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "wplus"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "wminus"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "period"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "freq"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "dcycle"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "npulses"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "ov_pos"),
    QT_TRANSLATE_NOOP("AutomeasComputeThread", "ov_neg"),
};

// Takes o_g_autoMeasMutex, giving up when stop turns true meanwhile (a holder that keeps it long
// must not keep the view from closing).
bool lockMeasMutex(const std::atomic<bool>* stop)
{
    if (stop == nullptr) {
        pthread_mutex_lock(&o_g_autoMeasMutex);
        return true;
    }
    for (;;) {
        if (stop->load())
            return false;
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += 5 * 1000 * 1000;
        if (deadline.tv_nsec >= 1000 * 1000 * 1000) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000 * 1000 * 1000;
        }
        if (pthread_mutex_timedlock(&o_g_autoMeasMutex, &deadline) == 0)
            return true;
    }
}

// One pass: the record copied under the mutex, the texts formatted outside it. False when stop
// came while waiting for the mutex.
bool formatChannel(unsigned short channel, QStringList* texts, const std::atomic<bool>* stop)
{
    TAcquisition* trace = nullptr;
    mesures* live = nullptr;
    AutoMeasChannel::channelSources(channel, &trace, &live);
    mesures copy{};
    if (!lockMeasMutex(stop))
        return false;
    if (live != nullptr)
        copy = *live;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    mesures* record = live != nullptr ? &copy : nullptr;
    texts->clear();
    texts->reserve(kAutoMeasCount);
    for (int i = 0; i < kAutoMeasCount; ++i) {
        QString valueText;
        AutoMeasChannel::getMeasurement(tus_g_measId[i], trace, record, &valueText, nullptr);
        sched_yield();
        texts->append(QCoreApplication::translate("AutomeasComputeThread", kTitles[i]) + QStringLiteral(": ") +
                      valueText);
    }
    return true;
}
} // namespace

AutomeasComputeThread::AutomeasComputeThread(QObject* parent)
    : QThread(parent)
{
}

AutomeasComputeThread::~AutomeasComputeThread()
{
    {
        QMutexLocker lock(&mutex_);
        stop_ = true;
        condition_.wakeAll();
    }
    wait();
}

const char* AutomeasComputeThread::measurementTitle(int i)
{
    return i >= 0 && i < kAutoMeasCount ? kTitles[i] : "";
}

QStringList AutomeasComputeThread::computeTexts(unsigned short channel)
{
    QStringList texts;
    formatChannel(channel, &texts, nullptr);
    return texts;
}

void AutomeasComputeThread::compute(unsigned short channel, QStringList* list)
{
    QMutexLocker lock(&mutex_);
    if (stop_)
        return;
    channel_ = channel;
    list_ = list;
    pending_ = true;
    if (isRunning())
        condition_.wakeAll();
    else
        start(QThread::LowPriority);
}

void AutomeasComputeThread::run()
{
    QMutexLocker lock(&mutex_);
    for (;;) {
        // Waiting under the mutex with both flags in the condition: a stop set at any moment
        // ends the loop, and requests made during a pass leave pending set for one more pass.
        while (!pending_ && !stop_)
            condition_.wait(&mutex_);
        if (stop_)
            return;
        pending_ = false;
        const unsigned short channel = channel_;
        QStringList* const list = list_;
        lock.unlock();
        if (list != nullptr) {
            QStringList texts;
            if (!formatChannel(channel, &texts, &stop_) || !lockMeasMutex(&stop_))
                return;
            list->swap(texts);
            pthread_mutex_unlock(&o_g_autoMeasMutex);
            emit measReadySignal();
        }
        lock.relock();
    }
}
