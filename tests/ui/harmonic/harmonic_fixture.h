// The harmonic tests' world: default setup in harmonic mode, a root window, the four channel
// traces and the power trace with a scale of exactly 1 (so that the printed numbers are the
// record's), and a result block of five records linked as the controller links them; the
// previous links come back at the end.
#pragma once

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/harmonic_results.h"
#include "core/scale.h"
#include "tests/ui/support/ui_fixture.h"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>

class HarmonicFixture : public uitest::HomeViewTest {
protected:
    void adjustSetup() override
    {
        data.instrumentMode = 0x40;
        data.harmOrder = 1;
        data.harmPower = 0;
    }
    void SetUp() override
    {
        uitest::HomeViewTest::SetUp();
        saved_ = setupLinks();
        static const unsigned short ids[5] = {1, 2, 4, 8, 8192};
        for (int i = 0; i < 5; ++i) {
            traces_[i] = std::make_unique<TAcquisition>(ids[i]);
            unitScale(*traces_[i]);
        }
        TSetupLinks& l = setupLinks();
        l.acqCh1 = traces_[0].get();
        l.acqCh2 = traces_[1].get();
        l.acqCh3 = traces_[2].get();
        l.acqCh4 = traces_[3].get();
        l.powerAcq = traces_[4].get();
        for (auto& r : records_)
            r = notComputed();
        l.harmonicResultsPtr = records_.data();
    }
    void TearDown() override
    {
        setupLinks() = saved_;
        uitest::HomeViewTest::TearDown();
    }

    // A probe factor that makes the trace's vertical scale exactly 1.
    static void unitScale(TAcquisition& t)
    {
        t.probeCoeff = 1.0f;
        const float c = GetVerticalScale(&t, SCALE_SCOPE, -1);
        float p = 1.0f / c;
        for (int i = 0; i < 8; ++i) {
            t.probeCoeff = p;
            const float s = GetVerticalScale(&t, SCALE_SCOPE, -1);
            if (s == 1.0f)
                break;
            p = std::nextafter(p, s < 1.0f ? 1e30f : 0.0f);
        }
        ASSERT_EQ(GetVerticalScale(&t, SCALE_SCOPE, -1), 1.0f);
    }

    static THarmonicResults notComputed()
    {
        THarmonicResults r;
        std::memset(&r, 0, sizeof r);
        r.status = HARMONIC_NOT_MEASURED;
        return r;
    }

    // A measured 50 Hz signal of 230 (RMS and fundamental), 3.1 % distortion; order n > 1 has a
    // ratio of 1 / n, a phase of -n degrees and an amplitude of 230 / n.
    static THarmonicResults measured()
    {
        THarmonicResults r = notComputed();
        r.status = HARMONIC_MEASURED;
        r.distortion = 0.031f;
        r.rms = 230.0f;
        r.entries[0] = {NAN, 0.0f, 0.0f, 0.0f};
        for (int n = 1; n < kHarmonicOrders; ++n)
            r.entries[n] = {0.02f / n, 1.0f / n, -float(n), 230.0f / n};
        r.entries[1].phase = 0.0f;
        return r;
    }

    THarmonicResults& record(int i) { return records_[size_t(i)]; }
    TAcquisition* trace(int i) { return traces_[size_t(i)].get(); }

    std::array<THarmonicResults, 5> records_;
    std::array<std::unique_ptr<TAcquisition>, 5> traces_;
    TSetupLinks saved_;
};
