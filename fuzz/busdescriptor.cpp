// Fuzz target of the bus descriptor readers: any input is read as a descriptor tree and every
// step's SETUPMESURE goes through the measurement factory's reader, every value through the
// field readers; then the factory's stages run on what was read, with a trace of the input's
// bytes. Properties: no crash, no hang, no read outside the record, no sanitizer report.
#include "acquisition/TAcquisition.h"
#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busxmlvalue.h"
#include "core/gest_db.h"
#include "core/xmlutilities.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

// One of each, for the whole run: the factory is 1.6 MB.
TBusMeasFactory& factory()
{
    static TBusMeasFactory* f = new TBusMeasFactory;
    return *f;
}

TAcquisition& trace()
{
    static TAcquisition* t = new TAcquisition(1);
    return *t;
}

void readValues(XmlDescriptor* node)
{
    for (XmlDescriptor* child : node->children) {
        if (!child)
            break;
        const std::string a = child->getAttributeValue("a");
        int64_t i = 0;
        bool b = false;
        float f = 0;
        readBusInteger(a, 16, true, &i);
        readBusInteger(a, 32, false, &i);
        readBusBool(a, &b);
        readBusFloat(a, &f);
        readValues(child);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(bytes), size));
    XmlDescriptor root(in);
    if (!root.valid)
        return 0;
    readValues(&root);

    TBusMeasFactory& f = factory();
    f.reset();
    f.resetHistograms();
    for (int n = 0; n < 27; ++n) {
        const std::string step = "MESURE" + std::to_string(n);
        XmlFifo path;
        path.initFifo(3, "FILEBUS", step.c_str(), "SETUPMESURE");
        if (XmlDescriptor* setupMesure = root.getTag(&path))
            f.setParamsFromXml(setupMesure);
    }

    // The stages on a trace made of the input's bytes.
    TAcquisition& t = trace();
    for (uint32_t i = 0; i < TAcquisition::kSampleCount; ++i) {
        t.samples[i] = 0x70000u + static_cast<uint32_t>(bytes[i % size]) * 1024u;
    }
    t.timeBase = static_cast<uint16_t>(size % 36);
    TSetupLinks& links = setupLinks();
    links.acqCh1 = links.acqCh2 = links.acqCh3 = links.acqCh4 = &t;
    static database* setup = new database();
    setup->traceFormat = 0;
    TBusAutoMeas m;
    f.newAcq(setup, &m);
    TTriggerRiseFallTime r;
    f.computeTriseTfall(t.samples, &r, 3);
    double mean, minimum, maximum, percent;
    f.computeTimeBit(&mean, &minimum, &maximum, 3);
    int32_t code = 0;
    f.getMaxFft(&t, &code);
    for (int16_t id : {int16_t(0x4080), int16_t(0x4081), int16_t(0x4082), int16_t(0x4084)})
        f.jitter(id, &percent);
    return 0;
}
