// The bus-analysis engine behind the bus thread: loads a descriptor and applies its setup, runs
// its steps one after the other through the controller, evaluates each acquisition and writes
// the report. One record of the bus box at a time, so tests can drive it record by record.
#pragma once

#include "busanalysis/bus.h"
#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busmeaskernel.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/xmlutilities.h"

#include <QList>

#include <memory>

// The SETUP children into the given record (the table of setup tags); 0 for a null element or a
// completed walk, -1 at the first value that does not read (the children before it stay).
int createBusSetup(XmlDescriptor* setupElement, database* setup);

class TBusAnalysis {
public:
    enum LoadState { kLoadFailed, kLoaded, kTimedOut };
    static constexpr int kStepTimeoutSeconds = 10;
    static constexpr int kRing = 8;
    static constexpr const char* kReportPath = "/var/tmp/busAnalysisResults.html";
    static constexpr const char* kUserFolder = "/media/user/bus-limits/";

    // live: the instrument's setup (the thread's argument).
    explicit TBusAnalysis(database* live);
    TBusAnalysis(const TBusAnalysis&) = delete;
    TBusAnalysis& operator=(const TBusAnalysis&) = delete;

    // Takes one record from the bus box (waiting at most the wait time-out) and acts on it, or
    // acts on the time-out.
    void handleNext();
    void handle(const pipe_dial& record);
    void timeOut();

    bool running() const { return running_; }
    bool acquiring() const { return acquiring_; }
    LoadState loadState() const { return loadState_; }
    int waitTimeout() const { return waitTimeout_; }
    TBus& bus() { return *bus_; }
    TBusMeasFactory& factory() { return *factory_; }
    XmlDescriptor& descriptor() { return *descriptor_; }
    // The working setup as the thread last built it.
    const database& working() const { return *current_; }

private:
    void load(const char* name);
    bool loadDescriptor(const char* name);
    void start();
    void next();
    void applied();
    void acquired();
    void stop();
    void endDiagnosis();
    void endWithMessage(int message);

    void post(uint16_t kind, int32_t code, intptr_t value, intptr_t sender, intptr_t aux = 0);
    void postOwn(int32_t code, intptr_t value);
    void postMessage(int message, intptr_t sender, const char* text = nullptr);
    void postBusDiagIdle();
    // The working setup with acqRunStop := runStop, refreshed from the live setup, posted for
    // the controller to apply (each post in its own record of the ring).
    void postWorkingSetup(int16_t runStop);
    const char* stepText();

    database* live_;
    std::unique_ptr<XmlDescriptor> descriptor_;
    std::unique_ptr<TBus> bus_;
    std::unique_ptr<TBusMeasFactory> factory_;
    QList<TBusMeasurement*> stepList_;
    std::unique_ptr<database> current_;
    std::unique_ptr<database[]> ring_;
    int ringNext_ = 0;
    std::unique_ptr<char[][1024]> texts_;
    int textNext_ = 0;
    TBusAutoMeas autoMeas_;
    bool running_ = false;
    bool acquiring_ = false;
    LoadState loadState_ = kLoadFailed;
    int waitTimeout_ = 0;
};
