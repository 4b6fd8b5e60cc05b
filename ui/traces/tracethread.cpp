#include "ui/traces/tracethread.h"

#include "ui/traces/trace.h"


TraceThread::TraceThread(QObject* parent) : QThread(parent) {}

TraceThread::~TraceThread()
{
    stop();
}

void TraceThread::computeSamplesToPixels(Trace* trace)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (quit_)
        return;
    current_ = trace;
    pending_ = true;
    if (started_) {
        condition_.notify_one();
    } else {
        start(QThread::LowPriority);
        // run() cannot end while the mutex is held: not running here means no thread was made,
        // and the next request tries again.
        started_ = running_ = isRunning();
    }
}

void TraceThread::stop()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        quit_ = true;
        condition_.notify_all();
        while (running_)
            condition_.wait(lock);
    }
    wait();
}

void TraceThread::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Quit and pending are only read under the mutex, so a stop between two turns is seen
        // before the next wait.
        while (!pending_ && !quit_)
            condition_.wait(lock);
        if (quit_) {
            running_ = false;
            condition_.notify_all();
            return;
        }
        pending_ = false;
        Trace* trace = current_;
        // Converting without the mutex: requests meanwhile only set pending (one more turn).
        lock.unlock();
        if (trace)
            trace->samplesToPixels();
        lock.lock();
    }
}
