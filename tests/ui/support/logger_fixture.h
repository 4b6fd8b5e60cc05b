// The recorder tests' world: the meter world with a clock the test moves, the normalised buffers
// a recall fills, and helpers to drive a panel tick by tick and read its files back.
#pragma once

#include "board/clock.h"
#include "tests/ui/support/meter_fixture.h"
#include "ui/traces/loggerpanel.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

class FakeClock : public BoardClock {
public:
    timespec realtime() override { return real; }
    timespec monotonic() override { return mono; }
    void advanceMs(int64_t ms)
    {
        add(real, ms);
        add(mono, ms);
    }
    static void add(timespec& t, int64_t ms)
    {
        int64_t ns = int64_t(t.tv_nsec) + (ms % 1000) * 1000000;
        t.tv_sec += static_cast<time_t>(ms / 1000 + ns / 1000000000);
        t.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    timespec real{1700000000, 0};
    timespec mono{5000, 0};
};

class LoggerFixture : public MeterFixture {
protected:
    void adjustSetup() override
    {
        MeterFixture::adjustSetup();
        data.instrumentMode = 130;
        data.channelFlags = 1;
        data.hwChannelMask = 0xF;
    }
    void SetUp() override
    {
        MeterFixture::SetUp();
        setBoardClock(&clock_);
        saved_[0] = TAcquisition::Voie1Normalisee;
        saved_[1] = TAcquisition::Voie2Normalisee;
        saved_[2] = TAcquisition::Voie3Normalisee;
        saved_[3] = TAcquisition::Voie4Normalisee;
        saved_[4] = TAcquisition::VoieAuxNormalisee;
        for (auto& b : buffers_)
            b.assign(TAcquisition::kNormalisedSamples, 0);
        TAcquisition::Voie1Normalisee = buffers_[0].data();
        TAcquisition::Voie2Normalisee = buffers_[1].data();
        TAcquisition::Voie3Normalisee = buffers_[2].data();
        TAcquisition::Voie4Normalisee = buffers_[3].data();
        TAcquisition::VoieAuxNormalisee = buffers_[4].data();
    }
    void TearDown() override
    {
        TAcquisition::Voie1Normalisee = saved_[0];
        TAcquisition::Voie2Normalisee = saved_[1];
        TAcquisition::Voie3Normalisee = saved_[2];
        TAcquisition::Voie4Normalisee = saved_[3];
        TAcquisition::VoieAuxNormalisee = saved_[4];
        setBoardClock(nullptr);
        MeterFixture::TearDown();
    }

    // A panel laid out for the current setup, its timer stopped: the test runs the ticks.
    template <typename P = LoggerPanel>
    std::unique_ptr<P> makePanel()
    {
        auto p = std::make_unique<P>();
        p->timer()->stop();
        p->setLayout();
        return p;
    }
    // One timer event after ms of the clock.
    void tick(LoggerPanel& p, int64_t ms = 200)
    {
        clock_.advanceMs(ms);
        p.refreshSlot();
    }
    // Readings every box's measurement gives from now on (NaN: no data).
    static void setValues(LoggerPanel& p, std::initializer_list<float> values)
    {
        int i = 0;
        for (float v : values) {
            while (i < 4 && !p.measurement(i))
                ++i;
            if (i < 4)
                p.measurement(i++)->setNumericValue(v);
        }
    }

    std::string loggerDir() const { return hostPath("/media/user/logger"); }
    // The record files of the logger folder, sorted by name.
    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(loggerDir().c_str())) {
            while (dirent* e = ::readdir(d)) {
                if (e->d_name[0] != '.')
                    out.emplace_back(e->d_name);
            }
            ::closedir(d);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string fileBytes(const std::string& name) const { return readWholeFile(loggerDir() + "/" + name); }
    static uint32_t wordAt(const std::string& bytes, size_t offset)
    {
        uint32_t w = 0;
        for (int k = 3; k >= 0; --k)
            w = (w << 8) | static_cast<uint8_t>(bytes.at(offset + static_cast<size_t>(k)));
        return w;
    }
    static uint32_t bitsOf(float f)
    {
        uint32_t w;
        std::memcpy(&w, &f, sizeof w);
        return w;
    }
    static std::string nameAt(time_t t)
    {
        return LoggerPanel::fileNameOf(timespec{t, 0}).toStdString() + ".rec";
    }

    FakeClock clock_;
    std::array<std::vector<uint32_t>, 5> buffers_;
    uint32_t* saved_[5] = {};
};
