// The meter tests' world: default setup in meter mode, a root window, the four channel traces
// and the power trace with their records linked as the controller links them (records 0-3 the
// channels', 8 and 9 the power products'); the previous links come back at the end.
#pragma once

#include "acquisition/TAcquisition.h"
#include "acquisition/measkernel.h"
#include "core/gest_db.h"
#include "tests/ui/support/ui_fixture.h"
#include "ui/frame/metermeasurement.h"
#include "ui/frame/powermeasurement.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <array>
#include <memory>

// Reaches the model's working values, to set a scale or a statistic the way a reading would.
class TMeterMeasurement : public MeterMeasurement {
public:
    using MeterMeasurement::halfRange_;
    using MeterMeasurement::maximum_;
    using MeterMeasurement::minimum_;
    using MeterMeasurement::offset_;
    using MeterMeasurement::rangeFlag_;
    using MeterMeasurement::scale_;
};

class TPowerMeasurement : public PowerMeasurement {
public:
    using MeterMeasurement::maximum_;
    using MeterMeasurement::minimum_;
    using MeterMeasurement::scale_;
    using PowerMeasurement::secondScale_;
};

class MeterFixture : public uitest::HomeViewTest {
protected:
    static constexpr double kCentre = 524256.0;

    void adjustSetup() override
    {
        data.instrumentMode = 128;
        data.meterFunction = 0;
        data.meterAuxMeas = 1;
        data.measRefChannel = 0;
        data.acqRunStop = 0;
    }
    void SetUp() override
    {
        uitest::HomeViewTest::SetUp();
        saved_ = setupLinks();
        static const unsigned short ids[5] = {1, 2, 4, 8, 8192};
        for (int i = 0; i < 5; ++i)
            traces_[i] = std::make_unique<TAcquisition>(ids[i]);
        TSetupLinks& l = setupLinks();
        l.acqCh1 = traces_[0].get();
        l.acqCh2 = traces_[1].get();
        l.acqCh3 = traces_[2].get();
        l.acqCh4 = traces_[3].get();
        l.powerAcq = traces_[4].get();
        l.powerFunctionA = nullptr;
        l.powerFunctionB = nullptr;
        records_.fill(mesures{});
        l.measResultsPtr = records_.data();
    }
    void TearDown() override
    {
        setupLinks() = saved_;
        uitest::HomeViewTest::TearDown();
    }

    TAcquisition* trace(int i) { return traces_[i].get(); }
    mesures& record(int i) { return records_[static_cast<size_t>(i)]; }

    // A DC reading of `codes` above the centre with every validity bit of the DC quantity.
    static mesures dcRecord(double codes)
    {
        mesures m{};
        m.flags = 0x2003;
        m.mean = kCentre + codes;
        return m;
    }
    // A power product of `codes` above the centre.
    static mesures powerRecord(double codes)
    {
        mesures m{};
        m.flags = 0x200c;
        m.meanPeriods = kCentre + codes;
        return m;
    }
    // A framing of n periods over 200 samples whose frequency is hz with the current time base.
    static void frame(mesures& m, double hz, uint16_t n = 2)
    {
        m.periodCount = n;
        m.rise50 = 100;
        m.fall50 = 150;
        m.lastCross50 = 300;
        m.extraValue = static_cast<float>(hz * 200.0 * GetHorizontalScale(21) / n);
    }

    static void saveArtefact(const QImage& image, const char* name)
    {
        const QString dir = QStringLiteral(BENCHVIEW_ARTEFACT_DIR);
        QDir().mkpath(dir);
        EXPECT_TRUE(image.save(dir + QLatin1Char('/') + QLatin1String(name), "PNG"));
    }

    // The item painted into an image of its size on a transparent background.
    template <typename T>
    static QImage render(T& item)
    {
        QImage image(static_cast<int>(item.width()), static_cast<int>(item.height()), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        item.paint(&painter);
        return image;
    }

    TSetupLinks saved_{};
    std::array<std::unique_ptr<TAcquisition>, 5> traces_;
    std::array<mesures, 10> records_{};
};
