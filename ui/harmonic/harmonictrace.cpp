#include "ui/harmonic/harmonictrace.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/harmonic_results.h"
#include "ui/frame/zinccolor.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

HarmonicTrace::HarmonicTrace(uint16_t identifier, QObject* parent) : QObject(parent), identifier_(identifier) {}

void HarmonicTrace::setColor(unsigned short index)
{
    colour_ = getZincColor(index);
}

void HarmonicTrace::heightsOf(const double (&levels)[64], int16_t (&heights)[64])
{
    // Only order 0 counts by its size: the DC term may be negative.
    double reference = std::fabs(levels[0]);
    for (int i = 1; i < 64; ++i)
        reference = std::max(reference, levels[i]);
    if (!(reference > 0.0) || !std::isfinite(reference)) {
        std::fill(std::begin(heights), std::end(heights), int16_t(0));
        return;
    }
    for (int i = 0; i < 64; ++i) {
        const double h = levels[i] * 1000.0 / reference;
        if (!std::isfinite(h))
            heights[i] = 0;
        else if (h > 1000.0)
            heights[i] = 1000;
        else if (h > -1000.0)
            heights[i] = static_cast<int16_t>(h);
        else
            heights[i] = -1000;
    }
}

void HarmonicTrace::computeSamplesToPixels()
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[5] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4, l.powerAcq};
    TAcquisition* trace = identifier_ < 5 ? traces[identifier_] : nullptr;
    const THarmonicResults* block = l.harmonicResultsPtr;
    if (!trace || !block || block[identifier_].status == HARMONIC_NOT_MEASURED) {
        std::fill(std::begin(heights_), std::end(heights_), int16_t(0));
        return;
    }
    heightsOf(trace->harmonicTable, heights_);
}

void HarmonicTrace::paint(QPainter* painter) const
{
    if (identifier_ < kHarmonicPowerRecord) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(colour_);
        for (int i = 0; i < 64; ++i) {
            if (heights_[i] != 0)
                painter->drawRect(QRectF(16 * i + 4 * identifier_, 0, 4, std::abs(heights_[i])));
        }
        return;
    }
    for (int i = 0; i < 64; ++i) {
        const int h = heights_[i];
        if (h == 0)
            continue;
        if (h > 0) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(colour_);
        } else {
            painter->setPen(QPen(colour_, 4));
            painter->setBrush(Qt::NoBrush);
        }
        painter->drawRect(QRectF(16 * i, 0, 16, std::abs(h)));
    }
}
