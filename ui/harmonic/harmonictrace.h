// The bars of one trace in the harmonic bar graph: 64 heights, one per order, in thousandths of
// the trace's largest level. Identifier 0-3 for channels 1-4, 4 for the power.
#pragma once

#include <QColor>
#include <QObject>

#include <cstdint>

class QPainter;

class HarmonicTrace : public QObject {
    Q_OBJECT

public:
    explicit HarmonicTrace(uint16_t identifier, QObject* parent = nullptr);

    void setColor(unsigned short index);
    QColor color() const { return colour_; }
    uint16_t identifier() const { return identifier_; }
    int16_t height(int order) const { return heights_[order]; }

    // Reads the trace's levels; the caller holds o_g_autoMeasMutex.
    void computeSamplesToPixels();
    // Draws the bars in the bar graph's window (x 0..1023, y upward 0..1000).
    void paint(QPainter* painter) const;

    // Heights of 64 levels: level x 1000 / the reference (|L(0)|, L(1) .. L(63)), within
    // -1000..1000; all 0 when the reference is 0 or no number.
    static void heightsOf(const double (&levels)[64], int16_t (&heights)[64]);

private:
    uint16_t identifier_;
    QColor colour_;
    int16_t heights_[64] = {};
};
