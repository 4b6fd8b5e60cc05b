// The recorder: every 200 ms the reading of each live meter channel (and of the power) goes to
// its recorder trace and into a record file (.rec) in the storage root's "logger" folder. While
// any recorder or meter panel exists the inactivity power-off is held off.
#pragma once

#include "core/process.h"
#include "ui/traces/viewerpanel.h"

#include <QTimer>

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

class LoggerPanel : public ViewerPanel {
    Q_OBJECT

public:
    static constexpr int kBufferValues = 600;
    static constexpr uint32_t kRecordsPerFile = 100000;
    static constexpr time_t kFileSeconds = 20000;
    static constexpr uint32_t kInvalidWord = 0x7FC00000u;
    static constexpr int kMessageLoggerFull = 34;
    // No channel is on: the recorder has nothing to record.
    static constexpr int kMessageNoChannel = 35;

    // What an open file's descriptor and buffer share with the end-of-process action.
    struct Sink {
        std::timed_mutex lock;
        int fd = -1;
        uint32_t buffer[kBufferValues] = {};
        uint16_t fill = 0;
        // Values per record of the open file.
        uint16_t width = 0;
    };

    explicit LoggerPanel(QQuickItem* parent = nullptr);
    ~LoggerPanel() override;

    // Creates a record file stamped t; returns its descriptor or -1 (nothing left behind).
    int openFile(timespec t);

    int descriptor() const { return sink_->fd; }
    uint32_t recordCounter() const { return counter_; }
    uint16_t bufferFill() const { return sink_->fill; }
    QTimer* timer() const { return timer_; }
    // The lock of the buffer and the descriptor (held by the GUI thread around its writes).
    std::timed_mutex& sinkLock() { return sink_->lock; }

    // "tavlin_<local date-time of t>", without extension.
    static QString fileNameOf(timespec t);
    // Host path of the logger folder of the storage root in use (the SD card's when present).
    static std::string loggerFolder();

    // Live panels of the process (GUI thread): the activity mark is absent while any exists.
    static int livePanels();

public slots:
    void setLayout() override;
    void displayKalvexSlot() override;
    void screenMajSlot(int code) override;
    virtual void refreshSlot();

protected:
    MeterChannel* makeChannelBox(bool power) override;
    PowerChannel* makePowerBox() override;

private:
    // Elapsed 200 ms ticks since the recording start.
    int64_t ticks() const;
    // A new recording from now: counter 0, next file named now.
    void restartRecording();
    // The streams a record holds: live channels with a measurement, the power with its box.
    uint16_t recordedChannels() const;
    // One record: each recorded channel's value, then the power's; true on a write error.
    bool recordPass(bool earlierError);
    // Writes the buffered values (opening the file first when an open is pending); false on a
    // short write. The caller holds the lock, as for the two below.
    bool flushLocked();
    // Opens the file stamped t and arms the end action; on failure the open stays pending.
    bool openFileLocked(timespec t);
    void closeFileLocked();

    QTimer* timer_ = nullptr;
    std::shared_ptr<Sink> sink_;
    uint32_t counter_ = 0;
    timespec startTime_{};
    timespec nextFileStart_{};
    // Monotonic time of the recording start; ticks count from here.
    timespec startTicks_{};
    // Real time of the current file's first record.
    timespec fileStart_{};
    // The record width the current file (or the pending one) was started with.
    uint16_t fileChannels_ = 0;
    int16_t fileFunction_ = 0;
    // The file's width is fixed; restartPending_: the next one starts a new recording.
    bool keyed_ = false;
    bool restartPending_ = false;
    // No file could be opened for the current records: retried at each flush.
    bool openPending_ = false;
    // Message 34 was posted for a failed open and no file opened since.
    bool openFailurePosted_ = false;
    // The no-channel message is shown once until a channel is on again.
    bool noChannelPosted_ = false;
    EndActionHandle endAction_ = 0;
};

// Values per record of a panel's flags: the live channels and the power.
int recordWidth(uint16_t channels);
