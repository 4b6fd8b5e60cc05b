// Traces of a test linked into the setup's run-time links as the controller links them; the
// previous links come back when the object goes. Built after the simulated board is set up.
#pragma once

#include "acquisition/TAcquisition.h"
#include "acquisition/TFonction.h"
#include "core/gest_db.h"

#include <memory>

class TLinkedTraces {
public:
    // Which links to fill.
    enum : unsigned {
        kLive = 1,     // acqCh1..4: traces 0-3 (identifiers 1, 2, 4, 8)
        kStored = 2,   // refAcqCh1..4: traces 4-7 (256 .. 2048)
        kPower = 4,    // powerAcq: trace 8 (8192)
        kMask = 8,     // maskAcq: trace 9 (0)
        kAll = 15,
    };

    explicit TLinkedTraces(unsigned links) : saved_(setupLinks())
    {
        static const unsigned short ids[10] = {1, 2, 4, 8, 256, 512, 1024, 2048, 8192, 0};
        for (int i = 0; i < 10; ++i)
            traces_[i] = std::make_unique<TAcquisition>(ids[i]);
        TSetupLinks& l = setupLinks();
        if (links & kLive) {
            l.acqCh1 = traces_[0].get();
            l.acqCh2 = traces_[1].get();
            l.acqCh3 = traces_[2].get();
            l.acqCh4 = traces_[3].get();
        }
        if (links & kStored) {
            l.refAcqCh1 = traces_[4].get();
            l.refAcqCh2 = traces_[5].get();
            l.refAcqCh3 = traces_[6].get();
            l.refAcqCh4 = traces_[7].get();
        }
        if (links & kPower)
            l.powerAcq = traces_[8].get();
        if (links & kMask)
            l.maskAcq = traces_[9].get();
    }
    ~TLinkedTraces() { setupLinks() = saved_; }
    TLinkedTraces(const TLinkedTraces&) = delete;
    TLinkedTraces& operator=(const TLinkedTraces&) = delete;

    // 0-3 live channels, 4-7 stored traces, 8 power, 9 mask.
    TAcquisition* trace(int i) { return traces_[i].get(); }

private:
    TSetupLinks saved_;
    std::unique_ptr<TAcquisition> traces_[10];
};

// What the code under test links into the run-time links (a recall makes the traces and the
// functions it finds missing) is deleted when the object goes, and the links of before come
// back: the next test of the process finds them as this one did.
class TRestoredLinks {
public:
    TRestoredLinks() : saved_(setupLinks()) {}
    ~TRestoredLinks()
    {
        TSetupLinks& l = setupLinks();
        for (auto field : {&TSetupLinks::mathFunctionCh1, &TSetupLinks::mathFunctionCh2, &TSetupLinks::mathFunctionCh3,
                           &TSetupLinks::mathFunctionCh4, &TSetupLinks::powerFunctionA, &TSetupLinks::powerFunctionB})
            dropIfNew(l.*field, saved_.*field);
        for (auto field : {&TSetupLinks::acqCh1, &TSetupLinks::acqCh2, &TSetupLinks::acqCh3, &TSetupLinks::acqCh4,
                           &TSetupLinks::refAcqCh1, &TSetupLinks::refAcqCh2, &TSetupLinks::refAcqCh3,
                           &TSetupLinks::refAcqCh4, &TSetupLinks::powerAcq, &TSetupLinks::maskAcq})
            dropIfNew(l.*field, saved_.*field);
        l = saved_;
    }
    TRestoredLinks(const TRestoredLinks&) = delete;
    TRestoredLinks& operator=(const TRestoredLinks&) = delete;

private:
    template <typename T>
    static void dropIfNew(T* now, T* before)
    {
        if (now != before)
            delete now;
    }
    TSetupLinks saved_;
};
