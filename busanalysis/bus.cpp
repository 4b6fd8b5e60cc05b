#include "busanalysis/bus.h"

#include "busanalysis/busmeasfactory.h"
#include "busanalysis/busxmlvalue.h"
#include "core/xmlutilities.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

std::string lowerTag(const XmlDescriptor* node)
{
    std::string tag(node->tag, strnlen(node->tag, sizeof node->tag));
    std::transform(tag.begin(), tag.end(), tag.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tag;
}

} // namespace

XmlDescriptor* busStepElement(XmlDescriptor* descriptor, int step)
{
    if (!descriptor)
        return nullptr;
    const std::string name = "MESURE" + std::to_string(step);
    XmlFifo path;
    path.initFifo(2, "FILEBUS", name.c_str());
    return descriptor->getTag(&path);
}

void TBus::init()
{
    title.clear();
    nbmesuremax = 0;
    initMeasurements();
}

void TBus::initMeasurements()
{
    lastSlot = -1;
    stepCount = 0;
    for (TBusMeasurement& m : measurementSlots)
        m.init();
}

int TBus::readGlobalParamsFromXml(XmlDescriptor* descriptor)
{
    XmlFifo path;
    path.initFifo(2, "FILEBUS", "BUS");
    XmlDescriptor* bus = descriptor ? descriptor->getTag(&path) : nullptr;
    if (!bus)
        return 0;
    for (XmlDescriptor* child : bus->children) {
        if (!child)
            break;
        const std::string tag = lowerTag(child);
        if (tag.empty())
            return -1;
        if (tag == "title") {
            title = child->getAttributeValue("a");
            std::replace(title.begin(), title.end(), '@', ' ');
        } else if (tag == "nbmesuremax") {
            int64_t v = 0;
            nbmesuremax = readBusInteger(child->getAttributeValue("a"), 16, true, &v) ? static_cast<int16_t>(v) : 0;
        }
    }
    return 0;
}

int TBus::addStep(XmlDescriptor* descriptor, TBusMeasFactory* factory, QList<TBusMeasurement*>& stepList)
{
    if (lastSlot >= kSlots - 1)
        return -4;
    const int16_t n = stepCount;
    int result = 0;
    XmlDescriptor* step = busStepElement(descriptor, n);
    if (!step) {
        result = -5;
    } else {
        bool setupFailed = false;
        for (XmlDescriptor* child : step->children) {
            if (!child)
                break;
            if (strcasecmp(child->tag, "SETUPMESURE") == 0) {
                setupFailed = factory && factory->setParamsFromXml(child) == -1;
                break;
            }
        }
        if (setupFailed) {
            result = -2;
        } else {
            const int16_t before = lastSlot;
            bool any = false;
            for (XmlDescriptor* child : step->children) {
                if (!child)
                    break;
                if (strcasecmp(child->tag, "MESURE") != 0)
                    continue;
                any = true;
                if (lastSlot >= kSlots - 1 ||
                    (measurementSlots[lastSlot + 1].init(), measurementSlots[lastSlot + 1].setParamsFromXml(child) == -1)) {
                    lastSlot = before;
                    stepList.clear();
                    result = -1;
                    break;
                }
                ++lastSlot;
                measurementSlots[lastSlot].stepNumber = n;
                stepList.append(&measurementSlots[lastSlot]);
                if (lastSlot == kSlots - 1)
                    break;
            }
            if (!any)
                result = -4;
        }
    }
    stepCount = static_cast<int16_t>(n + 1);
    return result;
}

int TBus::computeBusIntegrity(int* percent)
{
    if (nbmesuremax == 0 || stepCount != nbmesuremax)
        return 0;
    double weight = 0;
    double score = 0;
    for (int i = 0; i <= lastSlot && i < kSlots; ++i) {
        const TBusMeasurement& m = measurementSlots[i];
        if (m.state != TBusMeasurement::kVerdict) {
            if (m.result != 0)
                return -1;
            continue;
        }
        if (m.result & TBusMeasurement::kFail) {
            weight = 1;
            score = 0;
            break;
        }
        if (m.result & TBusMeasurement::kWarning)
            weight += m.influencemes;
        if (m.result & TBusMeasurement::kPass) {
            weight += m.influencemes;
            score += m.influencemes;
        }
    }
    if (weight == 0 || score < 0)
        *percent = 0;
    else
        *percent = static_cast<int>(score * 100 / weight);
    return 0;
}

TBusMeasurement* TBus::getLastMeas()
{
    return lastSlot >= 0 && lastSlot < kSlots ? &measurementSlots[lastSlot] : nullptr;
}
