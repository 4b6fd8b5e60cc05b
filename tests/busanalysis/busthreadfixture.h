// The bus-analysis engine driven record by record against the real controller pass: every record
// the engine posts to the controller goes through applyRequest, and the controller's answers come
// back through the bus box. Only the acquisition is replaced: when the engine lets the
// acquisition run, the shown channels' traces are filled by the simulated board's bus sampler
// as the setup asks, and the state notice of the scope cycle goes to the controller.
#pragma once

#include "busanalysis/busanalysis.h"
#include "tests/core/command_fixture.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

class BusThreadTest : public CommandParamTest {
protected:
    void SetUp() override
    {
        CommandParamTest::SetUp();
        links = linkEverything();
        startRealTimeStandin();
        tBUS_id = static_cast<pthread_t>(0xB501);
        useCanBusSignals();
        drain(o_g_consMessageBox);
        drain(o_g_busMessageBox);
        drain(o_g_acquMessageBox);
        drain(o_g_measMessageBox);
        data.instrumentMode = 17;
        data.hwChannelMask = 15;
        data.probeCoeffCh1 = 10;
        data.probeCoeffCh4 = 10;
        engine = std::make_unique<TBusAnalysis>(&data);
    }
    void TearDown() override
    {
        drain(o_g_busMessageBox);
        drain(o_g_consMessageBox);
        CommandParamTest::TearDown();
    }

    // Handles records until both boxes are empty (or the limit is reached); true when empty.
    bool pump(int limit = 20000)
    {
        for (int n = 0; n < limit; ++n) {
            pipe_dial r{};
            if (o_g_consMessageBox.peek(&r)) {
                o_g_consMessageBox.receive(&r, true, 0);
                posted.push_back(r);
                if (r.kind == REQ_SCREEN && r.code == 2 && r.intValue == 29 && r.auxValue)
                    stepTexts.emplace_back(reinterpret_cast<const char*>(r.auxValue));
                applyRequest(r);
                if (o_g_acquMessageBox.count() > 100)
                    drain(o_g_acquMessageBox);
                if (r.kind == REQ_SET_PARAM && r.code == param::acqRunStop && r.intValue == 0 &&
                    data.acqRunStop == 0 && engine->acquiring())
                    acquire();
                continue;
            }
            if (o_g_busMessageBox.empty())
                return true;
            engine->handleNext();
        }
        return false;
    }

    // Posts a record to the bus box as the controller would forward it, then pumps.
    void send(int32_t code, intptr_t value = 0)
    {
        pipe_dial r{REQ_BUS_STEP, code, 0, value, 0.0f, senderValue(COMM_id)};
        o_g_busMessageBox.send(&r);
        pump();
    }
    // A parameter request as the user interface sends it, through the controller.
    void setParam(int32_t parameter, intptr_t value)
    {
        pipe_dial r{REQ_SET_PARAM, parameter, 0, value, 0.0f, 0};
        o_g_consMessageBox.send(&r);
        pump();
    }
    void loadFile(const char* name)
    {
        static char text[40];
        std::snprintf(text, sizeof text, "%s", name);
        setParam(param::busFileName, reinterpret_cast<intptr_t>(text));
    }

    // One acquisition of the shown channels as the setup asks, and the cycle's notice.
    void acquire()
    {
        const int16_t on[4] = {data.traceOnCh1, data.traceOnCh2, data.traceOnCh3, data.traceOnCh4};
        const int16_t sens[4] = {int16_t(data.sensitivityCh1), int16_t(data.sensitivityCh2),
                                 int16_t(data.sensitivityCh3), int16_t(data.sensitivityCh4)};
        const float probe[4] = {data.probeCoeffCh1, data.probeCoeffCh2, data.probeCoeffCh3, data.probeCoeffCh4};
        const int16_t offset[4] = {data.offsetCh1, data.offsetCh2, data.offsetCh3, data.offsetCh4};
        const uint16_t edges[4] = {uint16_t(data.trigEdgeCh1), uint16_t(data.trigEdgeCh2),
                                   uint16_t(data.trigEdgeCh3), uint16_t(data.trigEdgeCh4)};
        const uint16_t slope = edges[std::clamp<int>(data.trigSource, 0, 3)];
        using Q = simboard::TBusTraceRequest;
        Q::Event event = slope == 1 ? Q::FallingEdge : Q::RisingEdge;
        if (data.trigType == 1)
            event = slope == 1 ? Q::NegativePulseEnd : Q::PositivePulseEnd;
        int32_t bits = 0;
        for (int k = 0; k < 4; ++k) {
            if (!on[k])
                continue;
            TAcquisition* trace = links.channel[k];
            trace->timeBase = static_cast<uint16_t>(data.timeBaseIndex);
            trace->sensitivity = static_cast<uint16_t>(sens[k]);
            trace->probeCoeff = probe[k];
            trace->position = offset[k];
            Q q;
            q.channel = k;
            q.timeBase = data.timeBaseIndex;
            q.sensitivity = sens[k];
            q.probeFactor = probe[k];
            q.position = offset[k];
            q.event = event;
            q.occurrence = acquisitions;
            q.triggerIndex = std::clamp<int32_t>(-data.sweepOffset, 2000, 98000);
            if (simboard::sampleBusTrace(q, trace->samples))
                bits |= 1 << k;
        }
        ++acquisitions;
        data.channelFlags = static_cast<uint16_t>(bits);
        pipe_dial notice{REQ_CHANNEL_STATE, 0, 0, bits, 0.0f, senderValue(RTAC_id)};
        o_g_consMessageBox.send(&notice);
    }

    // The records posted to the controller that match.
    std::vector<pipe_dial> postedOf(uint16_t kind, int32_t code) const
    {
        std::vector<pipe_dial> out;
        for (const pipe_dial& r : posted)
            if (r.kind == kind && r.code == code)
                out.push_back(r);
        return out;
    }
    std::vector<intptr_t> messages() const
    {
        std::vector<intptr_t> out;
        for (const pipe_dial& r : postedOf(REQ_SCREEN, 2))
            out.push_back(r.intValue);
        return out;
    }

    std::string reportText() { return readHostFile(hostPath(TBusAnalysis::kReportPath)); }

    TLinks links{};
    std::unique_ptr<TBusAnalysis> engine;
    std::vector<pipe_dial> posted;
    std::vector<std::string> stepTexts;  // copied when posted: the buffers are reused
    int acquisitions = 0;
};
