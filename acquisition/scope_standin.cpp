// Minimal oscilloscope cycle: arms, reads, transfers and tells the controller; no display
// envelope, pass/fail, FFT, measurements nor save-and-restart yet.
#include "acquisition/scope.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "core/requests.h"
#include "hardware/chip_acq.h"
#include "hardware/handshake.h"
#include "hardware/transfer.h"

namespace {

constexpr int kReadStop = 0x2000;
constexpr int kReadEnd = 0x1000;
constexpr int kReadLast = 0x10;
constexpr uint32_t kRecordSamples = 100000;

void notify(uint16_t kind, uint32_t held, uint16_t channels)
{
    pipe_dial notice{};
    notice.kind = kind;
    notice.code = 0;
    notice.auxValue = static_cast<intptr_t>(held);
    notice.intValue = channels;
    notice.floatValue = 0.0f;
    notice.senderId = senderValue(ACQU_id);
    o_g_consMessageBox.send(&notice);
}

bool reprocessing(const acq_ctrl* ctrl)
{
    return ctrl->acqFlags == ACQ_FLAGS_REPROCESS_REDRAW || ctrl->acqFlags == ACQ_FLAGS_REPROCESS;
}

}  // namespace

void Scope(database* /*setup*/, acq_ctrl* ctrl)
{
    if (ctrl == nullptr)
        return;

    if (reprocessing(ctrl)) {
        // Held samples only: the hardware is neither armed nor read.
        uint32_t count = 0;
        acqCalcul(ctrl, &count, kRecordSamples, true);
        notify(REQ_ACQ_DONE, kRecordSamples, ctrl->shownChannels);
        return;
    }

    // A resume after a parameter change asks for the time base to be programmed again.
    pthread_mutex_lock(&o_g_synchroAcqMutex);
    if (o_g_synchroAcqDetail == SYNCHRO_TIMEBASE_CHANGE)
        ChipAcqIoctl(CHIPACQ_TIMEBASE, ctrl);
    pthread_mutex_unlock(&o_g_synchroAcqMutex);

    const bool again = ctrl->triggerMode != 2;
    AcqTransfertOpen(ctrl);
    for (;;) {
        if (ChipAcqWrite(ctrl) != 0)
            return;
        uint32_t held = 0;
        int32_t first = 0;
        TInterpolation interpolate = 0;  // the first transfer of an acquisition fills the gaps
        for (;;) {
            const int flags = ChipAcqRead(ctrl);
            if (flags & kReadStop)
                return;
            pthread_mutex_lock(&o_g_autoMeasMutex);
            const int32_t moved = acqtrans(ctrl, &held, &first, &interpolate);
            pthread_mutex_unlock(&o_g_autoMeasMutex);
            if (moved == 1)
                notify(REQ_CHANNEL_STATE, held, static_cast<uint16_t>(ctrl->shownChannels & 0xF));
            AcqTransfertOpen(ctrl);
            if (flags & (kReadLast | kReadEnd))
                break;
        }
        if (!again || ctrl->runStop != 0)
            return;
    }
}
