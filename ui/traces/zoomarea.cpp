#include "ui/traces/zoomarea.h"

#include "ui/traces/zoomguard.h"

#include <algorithm>
#include <cmath>

ZoomArea::ZoomArea()
    : rect_(QPoint(0, 0), QPoint(-1, -1))
{
}

ZoomArea::~ZoomArea() = default;

int ZoomArea::sendRequest()
{
    return kNothingPosted;
}

int ZoomArea::post(int32_t code, intptr_t auxValue, intptr_t intValue)
{
    pipe_dial request{REQ_SET_PARAM, code, auxValue, intValue, 0.0f, senderValue(MENU_id)};
    return o_g_consMessageBox.send(&request) == 0 ? kPosted : kRefused;
}

bool computeZoomRecord(const QRect& rect, float vFactor, int32_t vPosition, float width,
                       int32_t horizPosition, TZoomRect* out)
{
    const int w = rect.right() - rect.left() + 1;
    const int h = rect.bottom() - rect.top() + 1;
    if (w <= 0 || h <= 0 || !isUsableZoomValue(vFactor) || !isUsableZoomValue(width))
        return false;
    const float factor = std::min(vFactor * 1000.0f / static_cast<float>(h), 16.0f);
    const float position =
        factor * (static_cast<float>(rect.top()) + static_cast<float>(vPosition)) / vFactor;
    const float newWidth = std::max(width * static_cast<float>(w) / 1000.0f, 1.0f);
    float window = static_cast<float>(horizPosition);
    if (width > newWidth)
        window = static_cast<float>(horizPosition) + width * static_cast<float>(rect.left()) * 2500.0f / 1000.0f;
    if (!std::isfinite(factor) || !std::isfinite(position) || !std::isfinite(newWidth) || !std::isfinite(window))
        return false;
    out->verticalFactor = factor;
    out->verticalPosition = truncToInt32(position);
    out->windowWidth = newWidth;
    out->windowPosition = truncToInt32(window);
    return true;
}
