// Status line of the recorded-file viewer: as the recorder's, with the recording's start time
// read from the file's header and cursor 1 shown as an absolute date and time.
#pragma once

#include "ui/traces/loggerstatusline.h"

#include <cstdint>

class ViewerStatusLine : public LoggerStatusLine {
    Q_OBJECT

public:
    explicit ViewerStatusLine(QQuickItem* parent = nullptr);
    ~ViewerStatusLine() override;

    // Seconds since the epoch of the recording on display.
    uint32_t startTime() const { return startTime_; }

public slots:
    void screenMajSlot(int parameter) override;
    void displayCursorValueSlot() override;
    void fugitiveDisplayEndSlot() override;

private:
    // Reads the start time from the header of the named file; unchanged when the header cannot be
    // read or its date does not parse.
    void readStartTime();
    // ["T1:", cursor 1's date and time] and cursor 2's level with the cursors on, else nothing.
    void fillCursorLists();

    uint32_t startTime_ = 0;
};
