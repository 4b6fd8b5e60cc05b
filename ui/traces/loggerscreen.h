// The recorder's main display: one pane with every recorded trace, or one pane per trace (channels
// 1 and 4 on a two-channel instrument, channels 1-4 on a four-channel one, plus the power trace in
// the power functions). Each pane holds a grid, the trace's screen while the trace is shown, and
// an overlay. The viewer's screen builds on it.
#pragma once

#include "ui/traces/scopescreen.h"

#include <cstdint>

enum TLoggerLayout : int32_t {
    LoggerLayoutOnePane = 0,
    LoggerLayoutCh1Ch4 = 1,
    LoggerLayoutCh1Ch4Power = 2,
    LoggerLayoutCh1To4 = 3,
    LoggerLayoutCh1To4Power = 4,
};

class LoggerScreen : public ScopeScreen {
    Q_OBJECT

public:
    // Trace bits: channels 1-4 and the power trace.
    static constexpr unsigned short kPowerTrace = 0x2000;
    static constexpr unsigned short kTraceBits = 0x200F;

    explicit LoggerScreen(QQuickItem* parent = nullptr);
    ~LoggerScreen() override;

    // Stores the layout and the shown traces (masked to the trace bits), then rebuilds.
    void setLayout(unsigned short mask, TLoggerLayout layout);

    unsigned short mask() const { return mask_; }
    TLoggerLayout layout() const { return layout_; }

public slots:
    void setLayout() override;
    void setLayout(bool split, short format, QString label) override
    {
        ScopeScreen::setLayout(split, format, label);
    }
    void screenMajSlot(int code) override;

protected:
    // Power functions record the power trace as well.
    static bool powerFunction();

    unsigned short mask_ = 0;
    TLoggerLayout layout_ = LoggerLayoutOnePane;
};
