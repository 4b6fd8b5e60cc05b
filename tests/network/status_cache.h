// The web service's status cache as at program start (every text empty), for tests; no thread
// of the service may be running.
#pragma once

#include "network/user_int.h"

#include <string>

inline void resetWsStatusCache()
{
    for (std::string* text : {&o_g_statusTrigger, &o_g_statusMisc1, &o_g_statusMisc2, &o_g_statusBattery,
                              &o_g_statusWarning, &o_g_passfailCounter, &o_g_activePower, &o_g_reactivePower,
                              &o_g_apparentPower, &o_g_dpf, &o_g_aux1Meas, &o_g_aux2Meas})
        text->clear();
    for (TMeterTexts* texts : {&to_g_meterRange, &to_g_meterCoupling, &to_g_meterMainMeas, &to_g_meterAux1Meas,
                               &to_g_meterAux2Meas})
        for (std::string& text : *texts)
            text.clear();
}
