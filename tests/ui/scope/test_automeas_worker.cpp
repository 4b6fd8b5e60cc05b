// Measurement workers: one more pass for calls during a pass, prompt requests and shutdown
// whatever holds the measurement mutex, and the list's content.
#include "tests/ui/scope/automeas_fixture.h"
#include "tests/ui/support/test_trace_fixture.h"
#include "ui/traces/automeaschannel.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <thread>

namespace {
class AutoMeasWorker : public AutoMeasFixture {
protected:
    // Counts passes in the worker's thread (direct connection), no event loop needed.
    void count(AutomeasComputeThread* w)
    {
        QObject::connect(w, &AutomeasComputeThread::measReadySignal, w, [this] { ++passes_; },
                         Qt::DirectConnection);
    }
    bool waitPasses(int n, int timeoutMs = 10000)
    {
        for (int waited = 0; passes_.load() < n; waited += 2) {
            if (waited > timeoutMs)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

    std::atomic<int> passes_{0};
};

QStringList copyUnderMutex(const QStringList& list)
{
    pthread_mutex_lock(&o_g_autoMeasMutex);
    QStringList copy = list;
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    return copy;
}
} // namespace

TEST_F(AutoMeasWorker, ListHoldsTitleAndTextInOrder)
{
    records_[1] = fullRecord();
    QStringList list;
    {
        TWatchdog dog(20, "first pass");
        AutomeasComputeThread w;
        count(&w);
        w.compute(2, &list);
        ASSERT_TRUE(waitPasses(1));
    }
    const QStringList texts = copyUnderMutex(list);
    ASSERT_EQ(texts.size(), kAutoMeasCount);
    const char* const titles[kAutoMeasCount] = {"vmin",  "vmax",  "vpp",   "vlow",   "vhigh", "vamp",    "vrms",
                                                "vrms_c", "vavg", "sum",   "trise",  "tfall", "wplus",   "wminus",
                                                "period", "freq", "dcycle", "npulses", "ov_pos", "ov_neg"};
    for (int i = 0; i < kAutoMeasCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(texts[i].startsWith(QString(titles[i]) + ": "));
        QString expected;
        AutoMeasChannel::getMeasurement(2, tus_g_measId[i], &expected, nullptr);
        EXPECT_EQ(texts[i], QString(titles[i]) + ": " + expected);
    }
    EXPECT_EQ(texts[16], "dcycle: 50.0 %");
    EXPECT_EQ(texts[18], "ov_pos: 10.0 %");
    EXPECT_EQ(AutomeasComputeThread::computeTexts(2), texts);
    // An empty record reads as dashes.
    EXPECT_EQ(AutomeasComputeThread::computeTexts(1)[15], "freq: ----- ");
}

TEST_F(AutoMeasWorker, CallsDuringAPassGiveOneMorePass)
{
    TWatchdog dog(20, "collapsed passes");
    QStringList list;
    AutomeasComputeThread w;
    count(&w);
    pthread_mutex_lock(&o_g_autoMeasMutex);
    w.compute(1, &list);  // the pass starts and waits for the records
    settle();
    // Requests never wait for the measurement code.
    w.compute(1, &list);
    w.compute(2, &list);
    w.compute(4, &list);
    EXPECT_EQ(passes_.load(), 0);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    ASSERT_TRUE(waitPasses(2));
    settle();
    EXPECT_EQ(passes_.load(), 2);
    // The extra pass used the last request.
    EXPECT_EQ(copyUnderMutex(list), AutomeasComputeThread::computeTexts(4));
}

TEST_F(AutoMeasWorker, DestructionEndsInEveryState)
{
    QStringList list;
    {
        TWatchdog dog(10, "idle worker never started");
        AutomeasComputeThread w;
    }
    {
        TWatchdog dog(10, "idle worker");
        AutomeasComputeThread w;
        count(&w);
        w.compute(1, &list);
        ASSERT_TRUE(waitPasses(1));
    }
    {
        // Destroyed while its pass waits for a mutex that another thread keeps.
        TWatchdog dog(10, "worker waiting for the measurement mutex");
        pthread_mutex_lock(&o_g_autoMeasMutex);
        {
            AutomeasComputeThread w;
            w.compute(1, &list);
            settle();
        }
        pthread_mutex_unlock(&o_g_autoMeasMutex);
    }
    {
        // Destroyed while computing: many requests keep it busy.
        TWatchdog dog(10, "busy worker");
        AutomeasComputeThread w;
        for (int i = 0; i < 200; ++i)
            w.compute(static_cast<unsigned short>(1 << (i % 4)), &list);
    }
}
