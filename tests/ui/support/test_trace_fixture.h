// Shared set-up of the trace and trace-screen tests: the default setup, four live channel traces
// and the other waveform links pointing at fixture traces, helpers to fill their display arrays,
// wait for conversions and look at painted pixels.
#pragma once

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/simboardtest.h"
#include "ui/traces/trace.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QThread>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Aborts the test process with a message when it is not disarmed in time (a hang is a failure).
class TWatchdog {
public:
    TWatchdog(int seconds, const char* what)
        : thread_([this, seconds, what] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish in %d s\n", what, seconds);
                  std::abort();
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

class TraceFixture : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        data = init_par;
        traces_ = std::make_unique<TLinkedTraces>(TLinkedTraces::kAll);
        for (int i = 0; i < 10; ++i)
            fillAll(acq(i), kEmptySampleWord);
    }
    void TearDown() override
    {
        traces_.reset();
        SimBoardTest::TearDown();
    }

    // 0-3 live channels, 4-7 stored traces, 8 auxiliary, 9 mask.
    TAcquisition* acq(int i) { return traces_->trace(i); }

    // Both arrays of a waveform: code(i) for point i.
    static void fill(TAcquisition* a, const std::function<uint32_t(int)>& code)
    {
        pthread_mutex_lock(&o_g_imageMutex);
        for (int i = 0; i < 2500; ++i)
            a->loggerRaw[i] = a->loggerEnvelope[i] = code(i);
        pthread_mutex_unlock(&o_g_imageMutex);
    }
    static void fillAll(TAcquisition* a, uint32_t code)
    {
        fill(a, [code](int) { return code; });
    }
    // The code of a row when not zoomed.
    static uint32_t codeOfRow(int row) { return static_cast<uint32_t>(393216 + row * 262.08 + 0.5); }
    // A sine of `amplitude` rows around `centre`, `periods` periods over the screen.
    static void fillSine(TAcquisition* a, int centre, int amplitude, double periods, double phase = 0)
    {
        fill(a, [=](int i) {
            return codeOfRow(centre + static_cast<int>(amplitude * std::sin(2 * M_PI * periods * i / 2500.0 + phase)));
        });
    }

    // Asks for one conversion through the worker and waits for it (false after 10 s).
    static bool convert(Trace* t)
    {
        const uint32_t before = t->conversions();
        t->computeSamplesToPixels();
        return waitConversions(t, before + 1);
    }
    static bool waitConversions(Trace* t, uint32_t count, int timeoutMs = 10000)
    {
        for (int waited = 0; t->conversions() < count; waited += 2) {
            if (waited > timeoutMs)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    static QImage blank(int w = 1000, int h = 1000)
    {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        return image;
    }
    static bool lit(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) > 0; }
    // Lit pixels inside the rectangle [x0, x1] x [y0, y1] (clipped to the image).
    static int litIn(const QImage& image, int x0, int y0, int x1, int y1)
    {
        int n = 0;
        for (int y = std::max(0, y0); y <= std::min(image.height() - 1, y1); ++y)
            for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x)
                n += lit(image, x, y);
        return n;
    }
    static int litCount(const QImage& image) { return litIn(image, 0, 0, image.width() - 1, image.height() - 1); }

private:
    std::unique_ptr<TLinkedTraces> traces_;
};
