// Smart-probe memories: the input after its first byte is the memory image of a probe plugged
// into the simulated board, read over the probe bus as the controller reads it, then asked for
// everything the views show. Bit 0 of the first byte stamps valid header, descriptor and user
// area checksums into the image (so the fuzzer gets past them to the fields); bits 1-2 choose
// the channel.
#include "fuzz/support.h"

#include "board/sim/simboard.h"
#include "core/checksum.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "hardware/kalvex.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void stampChecksum(std::vector<uint8_t>& image, size_t offset, size_t size)
{
    if (image.size() < offset + size)
        return;
    const uint32_t sum = Checksum(image.data() + offset + 4, static_cast<uint32_t>(size - 4));
    for (int i = 0; i < 4; ++i)
        image[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (24 - 8 * i));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzStartup();
    fuzzInstallSimulatedBoard();
    setPauseHook([](int) {});  // the settling pauses of a reading only cost time here
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1 || size - 1 > simboard::kProbeMemorySize)
        return 0;
    const int channel = (bytes[0] >> 1) & 3;
    std::vector<uint8_t> image(bytes + 1, bytes + size);
    if (bytes[0] & 1) {
        stampChecksum(image, kalvex::kHeaderOffset, kalvex::kHeaderSize);
        stampChecksum(image, kalvex::kDescriptorOffset, kalvex::kDescriptorSize);
        stampChecksum(image, kalvex::kUserAreaOffset, kalvex::kUserAreaSize);
    }
    setSmartProbeLink(channel, nullptr);
    if (image.empty())
        simboard::removeProbe(channel);
    else
        simboard::setProbeMemory(channel, image);

    // The controller's reading, applied to a copy of the setup.
    database db;
    std::memcpy(&db, &data, sizeof db);
    LectureKalvex(static_cast<int16_t>(channel), &db);

    // What the views and the key thread ask of the probe object: the one linked by the reading,
    // or (a refused memory leaves no link) a fresh reading's.
    std::shared_ptr<TKalvex> linked = smartProbeLink(channel);
    setSmartProbeLink(channel, nullptr);
    if (!linked)
        linked = std::make_shared<TKalvex>(static_cast<unsigned short>(channel));
    TKalvex& probe = *linked;
    char designation[kalvex::kDesignationSize + 1];
    unsigned short id = 0;
    probe.getId(designation, &id);
    TAcquisition* traces[4] = {setupLinks().acqCh1, setupLinks().acqCh2, setupLinks().acqCh3, setupLinks().acqCh4};
    unsigned short sensitivity = 0;
    short position = 0;
    probe.getScopeVertical(traces[channel], &sensitivity, &position);
    unsigned short value = 0;
    probe.getScopeCoupling(&value);
    probe.getMeterMeasurementType(&value);
    probe.getMeterRange(&value);
    probe.getMeterCoupling(&value);
    int32_t limit = 0;
    probe.getScopeBWL(&limit);
    char unit[4];
    probe.getMeasurementUnit(unit);
    float coefficient = 0.0f;
    probe.getProbeCoeff(&coefficient);
    double gain = 0.0;
    double offset = 0.0;
    probe.getCorrection(&gain, &offset);
    QString text;
    probe.getMessageInput1(text);
    probe.getMessageInput2(text);
    probe.getMessageFloating1(text);
    probe.getMessageFloating2(text);
    probe.getMessageBetweenChannels(text);
    probe.getMessageComments(text);
    TKalvex::convert(text);
    unsigned short colour = 0;
    unsigned short second = 0;
    if (probe.getUserFields(&colour, &second) == 0)
        probe.setUserFields(static_cast<unsigned short>((colour + 1) & 0xFF), second);
    probe.updateStatus();
    probe.getStatus();
    return 0;
}
