// Fuzz target of the bus descriptor readers: any input is read as a descriptor tree and every
// step's SETUPMESURE goes through the measurement factory's reader, every value through the
// field readers; then the factory's stages run on what was read, with a trace of the input's
// bytes. The bus-analysis engine's own readers follow: the global values, the setup tags of the
// global and step SETUP elements, the steps with their measurements, one acquisition offered to
// them, and the report, whose lines must stay ASCII and within 99 characters. Properties: no
// crash, no hang, no read outside the record, no sanitizer report, a report the results panel
// can read.
#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "busanalysis/bus.h"
#include "busanalysis/busanalysis.h"
#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busxmlvalue.h"
#include "core/gest_db.h"
#include "core/xmlutilities.h"
#include "fuzz/support.h"

#include <fstream>
#include <strings.h>
#include <iterator>

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

// The engine's side: global values, setup tags, steps, one acquisition, the report.
void runEngineReaders(XmlDescriptor& root, TBusMeasFactory& f, TBusAutoMeas& m)
{
    static TBus* bus = new TBus;
    static database* image = new database;
    bus->init();
    bus->readGlobalParamsFromXml(&root);
    *image = init_par;
    XmlFifo path;
    path.initFifo(2, "FILEBUS", "SETUP");
    createBusSetup(root.getTag(&path), image);
    QList<TBusMeasurement*> list;
    for (int n = 0; n < 27; ++n) {
        XmlDescriptor* step = busStepElement(&root, n);
        for (int i = 0; step && i < XmlDescriptor::kChildren && step->children[i]; ++i)
            if (strcasecmp(step->children[i]->tag, "SETUP") == 0)
                createBusSetup(step->children[i], image);
        list.clear();
        bus->addStep(&root, &f, list);
        for (TBusMeasurement* meas : list)
            meas->setBusMeasPixValues(&f, &m);
    }
    bus->nbmesuremax = bus->stepCount;
    if (bus->saveResultToFile("/var/tmp/busAnalysisResults.html", &root) != 0)
        fuzzFailure("the report could not be written");
    std::ifstream in(boardPath("/var/tmp/busAnalysisResults.html"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            if (i - start > 100)
                fuzzFailure("a report line is longer than 99 characters");
            start = i + 1;
        } else if ((c < 0x20 && c != '\r') || c > 0x7E) {
            fuzzFailure("the report holds a byte beyond printable ASCII");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSimulatedBoard();
    return 0;
}

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
    runEngineReaders(root, f, m);
    return 0;
}
