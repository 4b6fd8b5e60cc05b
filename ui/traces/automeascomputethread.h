// Worker that formats the 20 automatic-measurement texts of one channel, so that the GUI thread
// never waits for the measurement code. The item owns the worker and the target list.
#pragma once

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>

// The 20 automatic measurements in list order (shared by the box, the table and the worker).
constexpr int kAutoMeasCount = 20;
extern const uint16_t tus_g_measId[kAutoMeasCount];

class AutomeasComputeThread : public QThread {
    Q_OBJECT

public:
    explicit AutomeasComputeThread(QObject* parent = nullptr);
    // Stops the loop, wakes it and waits for the pass under way to end.
    ~AutomeasComputeThread() override;

    // Asks for one computation of channel's 20 texts into *list. Never blocks on the
    // measurement code; calls during a pass collapse into one more pass. list is replaced under
    // o_g_autoMeasMutex, so readers copy it under that mutex. GUI thread.
    void compute(unsigned short channel, QStringList* list);

    // Untranslated title of entry i (0..19), translated in this class's context for display.
    static const char* measurementTitle(int i);
    // The 20 texts "title: text" of channel in list order, as one pass of the worker makes them:
    // the channel's record is copied under o_g_autoMeasMutex (taken here) and formatted outside.
    static QStringList computeTexts(unsigned short channel);

signals:
    void measReadySignal();

protected:
    void run() override;

private:
    QMutex mutex_;
    QWaitCondition condition_;
    bool pending_ = false;
    std::atomic<bool> stop_{false};  // set under mutex_; also read while waiting for o_g_autoMeasMutex
    unsigned short channel_ = 1;
    QStringList* list_ = nullptr;
};
