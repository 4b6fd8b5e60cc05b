#include "core/homebridge.h"

std::atomic<THomeBridge*> po_g_homeBridge{nullptr};
