// One loaded bus descriptor: its title and step count, the fixed measurement measurementSlots its steps
// fill one after the other, the bus quality figure and the HTML report.
#pragma once

#include "busanalysis/busmeasurement.h"

#include <QList>

#include <cstdint>
#include <string>

class XmlDescriptor;
class TBusMeasFactory;

class TBus {
public:
    static constexpr int kSlots = 16;

    TBus() { init(); }
    virtual ~TBus() = default;

    void init();
    // Slots and step count back to empty; title and nbmesuremax stay.
    void initMeasurements();
    // FILEBUS/BUS: the title (at-signs as blanks) and nbmesuremax; -1 for a child with an empty
    // tag, else 0.
    int readGlobalParamsFromXml(XmlDescriptor* descriptor);
    // The next step's acquisition parameters and measurements. 0; -5 no such step; -2 its
    // SETUPMESURE did not read; -1 a measurement did not read or found no slot (the step's
    // measurements released); -4 no MESURE child, or no free slot (then the step is not counted).
    int addStep(XmlDescriptor* descriptor, TBusMeasFactory* factory, QList<TBusMeasurement*>& stepList);
    // Once every step ran: *percent := the weighted share of passes (0 when a measurement
    // failed); -1 when a measurement ended without a value. 0 without touching percent before.
    int computeBusIntegrity(int* percent);
    TBusMeasurement* getLastMeas();

    // The report at boardPath(path), replaced whole; 0, or -1 when it cannot be created.
    int saveResultToFile(std::string path, XmlDescriptor* descriptor);

    std::string title;
    int16_t lastSlot;
    int16_t nbmesuremax;
    int16_t stepCount;
    // The slots ("slots" is a Qt keyword).
    TBusMeasurement measurementSlots[kSlots];
};

// The FILEBUS/MESURE<step> element, or null.
XmlDescriptor* busStepElement(XmlDescriptor* descriptor, int step);
