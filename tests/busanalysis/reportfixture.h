// A bus with measurements in chosen states and a descriptor with DIAG hints, for the report.
#pragma once

#include "busanalysis/bus.h"
#include "tests/busanalysis/busxml.h"

#include <cfloat>
#include <string>
#include <vector>

struct TReportRow {
    std::string name;
    float min, max, warning;
    double value;         // display value (scale 1, offset 0); NaN: no value (state 4)
    std::string unit = "V";
};

// The bus of the rows, one step per row, every step run.
inline void fillBus(TBus& bus, const std::string& title, const std::vector<TReportRow>& rows)
{
    bus.init();
    bus.title = title;
    bus.nbmesuremax = static_cast<int16_t>(rows.size());
    bus.stepCount = bus.nbmesuremax;
    for (const TReportRow& r : rows) {
        TBusMeasurement& m = bus.measurementSlots[++bus.lastSlot];
        m.name = r.name;
        m.unit = r.unit;
        m.limitemin = r.min;
        m.limitemax = r.max;
        m.warning = r.warning;
        m.stepNumber = bus.lastSlot;
        if (r.value != r.value) {
            m.state = m.result = TBusMeasurement::kNoValue;
            continue;
        }
        m.minimum = m.maximum = r.value;
        m.result = m.integrityCompute();
        m.state = TBusMeasurement::kVerdict;
    }
}

// A descriptor whose step n lists the DIAG keys given for it.
inline std::unique_ptr<XmlDescriptor> diagDescriptor(const std::vector<std::vector<std::string>>& keys)
{
    std::string text = "<FileBUs>\n";
    for (size_t n = 0; n < keys.size(); ++n) {
        text += "<MESURE" + std::to_string(n) + ">\n<MESURE>\n<IdMesure a=\"$1040\"/>\n</MESURE>\n";
        for (const std::string& k : keys[n])
            text += "<DIAG msg=\"" + k + "\"/>\n";
        text += "</MESURE" + std::to_string(n) + ">\n";
    }
    return xmlElement(text + "</FileBUs>");
}
