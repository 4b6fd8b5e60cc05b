// The drawing thread of one trace: turns the trace's display codes into pixel rows away from the
// GUI thread. Requests never wait for a conversion; those made while one runs collapse into
// exactly one further conversion, and none is lost.
#pragma once

#include <QThread>
#include <condition_variable>
#include <mutex>

class Trace;

class TraceThread : public QThread {
public:
    explicit TraceThread(QObject* parent = nullptr);
    // Stops and joins the thread (see stop()).
    ~TraceThread() override;

    // Makes `trace` the one to convert and asks for one conversion; starts the thread at low
    // priority on the first request. Returns at once. Nothing happens once stopped.
    void computeSamplesToPixels(Trace* trace);
    // Asks the thread to leave and waits for it: at most the conversion under way finishes.
    // Idempotent; the thread is never started again afterwards.
    void stop();

protected:
    void run() override;

private:
    Trace* current_ = nullptr;
    // Standard primitives rather than QMutex/QWaitCondition: same semantics (non-recursive),
    // and visible to the thread sanitizer, which cannot see into Qt's lock-free fast paths.
    std::mutex mutex_;
    std::condition_variable condition_;
    bool pending_ = false;
    bool quit_ = false;
    bool started_ = false;
    // True from a successful start until run() returns; stop() waits for it under the mutex,
    // so the end of the conversions is ordered before the caller frees the trace.
    bool running_ = false;
};
