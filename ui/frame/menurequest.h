// A parameter request of the user interface to the controller. The panels show a value only
// once the controller announces it, so the result is not needed: a full box drops the request.
#pragma once

#include "core/requests.h"

#include <cstdint>

inline void postMenuRequest(int32_t code, intptr_t intValue, intptr_t auxValue = 0, float floatValue = 0.0f)
{
    pipe_dial request{REQ_SET_PARAM, code, auxValue, intValue, floatValue, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}
