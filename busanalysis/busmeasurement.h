// One measured quantity of a bus step: its identifier, limits and weight, the values gathered
// over the step's acquisitions and the verdict made from them. Values are kept in value units
// (codes, sample counts); display value = offset + value x scale.
#pragma once

#include <cstdint>
#include <string>

class XmlDescriptor;
class TBusMeasFactory;
struct TBusAutoMeas;

class TBusMeasurement {
public:
    enum State : int32_t { kIdle = 0, kVerdict = 1, kGathering = 2, kNoValue = 4 };
    enum Result : int32_t { kNoLimit = 0, kPass = 1, kWarning = 2, kFail = 4 };

    TBusMeasurement() { init(); }

    void init();
    // The MESURE children; 0, or -1 at the first value that does not read (limits and the
    // warning excepted: they stay absent). The warning then becomes a band in display units.
    int setParamsFromXml(XmlDescriptor* mesureElement);
    // Level code, scale, offset and unit of the factory's channel; -1 for a channel outside 0..3.
    int setBusMeasFactory(TBusMeasFactory* factory);
    // One completed acquisition: 2 while gathering, 1 with a verdict, 4 when no acquisition gave
    // a value.
    int setBusMeasPixValues(TBusMeasFactory* factory, TBusAutoMeas* autoMeas);
    // Verdict of the gathered values: sets retained and distance, returns the result.
    int integrityCompute();
    float intervalDistance(float x) const;
    float scaledValue(float x) const;
    // "---" for FLT_MAX; ASCII only (the micro sign becomes 'u').
    std::string toString(float x) const;

    std::string name;
    int16_t idmesure;
    int32_t levelCode;
    double scale;
    double offset;
    std::string unit;
    int16_t stepNumber;
    float limitemax;
    float limitemin;
    float warning;
    int32_t nbmesuresmax;
    double maximum;
    double minimum;
    double sum;
    float tempocoupac;
    float influencemes;
    int32_t state;
    int32_t result;
    float distance;
    float retained;
    int32_t acquisitions;
    int32_t values;
    int32_t variable1;
    int32_t variable2;
    int32_t variable3;
    int32_t variable4;

private:
    // The acquisition's value and candidates; false when it gives none.
    bool valueOf(TBusMeasFactory* factory, const TBusAutoMeas& m, double* v, double* vmin, double* vmax) const;
};
