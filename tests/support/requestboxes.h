// What a test left queued between threads reaches no later test of the process.
#pragma once

#include "core/requests.h"

template <typename T>
void drainBox(TTavlinMessageBox<T>& box)
{
    T record{};
    while (box.peek(&record))
        box.receive(&record, true, 1);
}

inline void drainRequestBoxes()
{
    drainBox(o_g_consMessageBox);
    drainBox(o_g_measMessageBox);
    drainBox(o_g_busMessageBox);
    drainBox(o_g_acquMessageBox);
}
