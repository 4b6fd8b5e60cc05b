// Trigger level of a source channel on the right edge (trigLevelCh1-trigLevelCh4), with the
// symbol of the trigger coupling.
#pragma once

#include "ui/traces/indicator.h"

class IndicatorTriggerV : public Indicator {
public:
    static const short ts_c_normalMotif[];
    static const short ts_c_maxMotif[];
    static const short ts_c_minMotif[];
    static const short ts_c_couplingAc[];
    static const short ts_c_couplingLfReject[];
    static const short ts_c_couplingHfReject[];
    static const short ts_c_couplingDc[];

    // Source 0..3 = channel 1..4; any other as channel 1.
    explicit IndicatorTriggerV(unsigned short source);

    void paint(QPainter& painter) override;
    void setZoom(float factor, int position) override;
    void setModel(short model) override;
    void setPositionFromMouse(QPoint& p) override;
    // extra = the channel's offset, subtracted from the level taken from the finger.
    void setPositionFromSetup(int value, int extra) override;
    void getIndicPos(int* x0, int* y0, short const** symbol) override;
    QPoint getTitlePos() override;

    short model() const { return model_; }
    int32_t channelOffset() const { return channelOffset_; }
    // Coupling symbol of a model (0 AC, 2 LF reject, 3 HF reject, any other DC).
    static const short* couplingSymbol(short model);

private:
    short model_;
    int32_t channelOffset_;
};
