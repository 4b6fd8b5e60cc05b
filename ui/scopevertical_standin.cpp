// Vertical panel reduced to the channel-box click; the panel's settings replace this file.
#include "ui/scopevertical.h"

#include "core/gest_db.h"
#include "core/requests.h"

namespace {

struct ChannelCodes {
    int displaySwitch;
    uint8_t* traceOn;
    int referenceMask;
};

ChannelCodes codesOf(int channel)
{
    switch (channel) {
    case 1:
        return {param::traceOnCh2, &data.traceOnCh2, 2};
    case 2:
        return {param::traceOnCh3, &data.traceOnCh3, 4};
    case 3:
        return {param::traceOnCh4, &data.traceOnCh4, 8};
    default:
        return {param::traceOnCh1, &data.traceOnCh1, 1};
    }
}

void post(int32_t code, intptr_t value)
{
    pipe_dial request{REQ_SET_PARAM, code, 0, value, 0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

} // namespace

ScopeVertical::ScopeVertical(QQuickItem* parent) : QQuickItem(parent) {}

ScopeVertical::~ScopeVertical() = default;

int ScopeVertical::setClickedChannel(int channel)
{
    clickedChannel_ = channel;
    const ChannelCodes codes = codesOf(channel);
    displayCode_ = codes.displaySwitch;
    if (*codes.traceOn == 0) {
        post(codes.displaySwitch, 1);
        post(param::measRefChannel, codes.referenceMask);
        selectedChannel_ = channel;
        refresh();
        return 1;
    }
    if (channel == selectedChannel_) {
        post(codes.displaySwitch, 0);
        selectedChannel_ = channel;
        return 0;
    }
    post(param::measRefChannel, codes.referenceMask);
    selectedChannel_ = channel;
    refresh();
    return 1;
}

void ScopeVertical::refresh()
{
    const int channel = clickedChannel_ >= 1 && clickedChannel_ <= 3 ? clickedChannel_ : 0;
    title_ = tr("CH") + QString::number(channel + 1);
    emit dataChanged();
}
