// What the cycles of the modes other than the oscilloscope share.
#include "acquisition/modecycles.h"

#include "acquisition/TAcquisition.h"
#include "acquisition/acqctrl.h"
#include "hardware/transfer.h"

int32_t TransferNewSamples(acq_ctrl* ctrl, uint32_t newSamples, uint32_t* held)
{
    ctrl->newSamples = newSamples;
    uint32_t count = 0;
    int32_t first = 0;
    TInterpolation word = 1;
    pthread_mutex_lock(&o_g_autoMeasMutex);
    const int32_t result = acqtrans(ctrl, &count, &first, &word);
    pthread_mutex_unlock(&o_g_autoMeasMutex);
    if (held != nullptr)
        *held = count;
    return result;
}
