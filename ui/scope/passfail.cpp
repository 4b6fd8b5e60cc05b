#include "ui/scope/passfail.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "ui/frame/menurequest.h"
#include "hardware/CmdesBase.h"
#include "ui/frame/homeview.h"

#include <cmath>

PassFail::PassFail(QQuickItem* parent) : QQuickItem(parent)
{
    initPassFailParams();
    connect(this, &QQuickItem::opacityChanged, this, &PassFail::opacityChangedSlot);
}

PassFail::~PassFail()
{
    if (HomeView* view = po_g_homeView) {
        disconnect(view, &HomeView::screenMajSignal, this, &PassFail::screenMajSlot);
        disconnect(view, &HomeView::screenRefreshSignal, this, &PassFail::screenRefreshSlot);
    }
}

bool PassFail::toHundredths(float value, int32_t* out)
{
    if (std::isnan(value))
        return false;
    // In double: the tolerance covers the single-precision error of a typed hundredth.
    const double hundredths = std::trunc(static_cast<double>(value) * 100.0 + 0.0001);
    if (hundredths >= 2147483647.0)
        *out = 2147483647;
    else if (hundredths <= -2147483648.0)
        *out = -2147483647 - 1;
    else
        *out = static_cast<int32_t>(hundredths);
    return true;
}

void PassFail::initPassFailParams()
{
    sourceIndex_ = data.passFailSource;
    xMaskValue_ = data.passFailXMask / 100.0f;
    yMaskValue_ = data.passFailYMask / 100.0f;
    displayIndex_ = data.passFailDisplay;
    beep_ = static_cast<unsigned short>(data.passFailBeep);
    onOff_ = static_cast<unsigned short>(data.passFailOn);
    runStop_ = static_cast<unsigned short>(data.passFailRunStop);
    maskIsMemory_ = static_cast<unsigned short>(data.passFailMaskIsMemory);
    counterValue_ = QStringLiteral("-");
}

int PassFail::getChannels() const
{
    return EtatLogique(ETAT_TWO_CHANNEL_MODEL) ? 2 : 4;
}

void PassFail::opacityChangedSlot()
{
    // Only a change between hidden and shown counts: a fade or a second show keeps one
    // connection, and so one counter update per display refresh.
    const bool shown = opacity() != 0.0;
    if (shown == shown_)
        return;
    shown_ = shown;
    HomeView* view = po_g_homeView;
    if (!view)
        return;
    if (!shown) {
        disconnect(view, &HomeView::screenMajSignal, this, &PassFail::screenMajSlot);
        disconnect(view, &HomeView::screenRefreshSignal, this, &PassFail::screenRefreshSlot);
        return;
    }
    connect(view, &HomeView::screenMajSignal, this, &PassFail::screenMajSlot, Qt::UniqueConnection);
    connect(view, &HomeView::screenRefreshSignal, this, &PassFail::screenRefreshSlot, Qt::UniqueConnection);
    initPassFailParams();
    emit dataChanged();
    screenRefreshSlot();
}

void PassFail::screenMajSlot(int code)
{
    if (code != 0 && (code < param::passFailSource || code > param::passFailMaskIsMemory))
        return;
    initPassFailParams();
    emit dataChanged();
}

void PassFail::screenRefreshSlot()
{
    counterValue_ = QString::fromStdString(TAcquisition::passFailCounter.get(data.passFailDisplay));
    emit counterValueChanged();
}

void PassFail::sendRequestSource(int index)
{
    sourceIndex_ = index;
    if (index != data.passFailSource)
        postMenuRequest(param::passFailSource, index);
}

void PassFail::sendTolerance(int code, float value, float* stored)
{
    // Changes of a hundredth or less are noise of the keyboard's rounding.
    if (!(std::fabs(*stored - value) > 0.01f))
        return;
    int32_t hundredths;
    if (!toHundredths(value, &hundredths))
        return;
    *stored = value;
    postMenuRequest(code, hundredths);
}

void PassFail::sendRequestXMask(float value)
{
    sendTolerance(param::passFailXMask, value, &xMaskValue_);
}

void PassFail::sendRequestYMask(float value)
{
    sendTolerance(param::passFailYMask, value, &yMaskValue_);
}

void PassFail::sendRequestDisplay(int index)
{
    displayIndex_ = index;
    if (index != data.passFailDisplay)
        postMenuRequest(param::passFailDisplay, index);
}

void PassFail::sendRequestBeep(unsigned short value)
{
    beep_ = value;
    if (value != static_cast<unsigned short>(data.passFailBeep))
        postMenuRequest(param::passFailBeep, value);
}

void PassFail::sendRequestOnOff(unsigned short value)
{
    onOff_ = value;
    if (value != static_cast<unsigned short>(data.passFailOn))
        postMenuRequest(param::passFailOn, value);
}

void PassFail::sendRequestRunStop(unsigned short value)
{
    runStop_ = value;
    if (value != static_cast<unsigned short>(data.passFailRunStop))
        postMenuRequest(param::passFailRunStop, value);
}

void PassFail::sendRequestMaskIsMemory(unsigned short value)
{
    maskIsMemory_ = value;
    postMenuRequest(param::passFailMaskIsMemory, value);
}
