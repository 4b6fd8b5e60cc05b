#include "ui/scope/scopehorizontal.h"

#include "core/gest_db.h"
#include "ui/frame/menurequest.h"
#include "ui/frame/homeview.h"

ScopeHorizontal::ScopeHorizontal(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* view = po_g_homeView)
        majConnection_ = connect(view, &HomeView::screenMajSignal, this, [this](int) { screenMajSlot(); });
}

ScopeHorizontal::~ScopeHorizontal()
{
    disconnect(majConnection_);
}

int ScopeHorizontal::indexToMode(int index)
{
    static const int kModes[4] = {1, 2, 4, 5};
    return index >= 0 && index <= 3 ? kModes[index] : -1;
}

int ScopeHorizontal::modeToIndex(int mode)
{
    static const int kIndices[6] = {0, 0, 1, 0, 2, 3};
    return mode >= 0 && mode <= 5 ? kIndices[mode] : 0;
}

void ScopeHorizontal::screenMajSlot()
{
    title_ = tr("Parametres horizontaux");
    timebaseIndex_ = data.timeBaseIndex;
    savrelValue_ = data.saveRestart != 0;
    minmaxValue_ = data.minMax == 1;
    repsigValue_ = data.repSig != 0;
    averageIndex_ = data.averageCount;
    modeIndex_ = modeToIndex(data.traceMode);
    typeIndex_ = data.traceFormat;
    windowIndex_ = data.fftWindow;
    scaleIndex_ = data.fftVerticalScale;
    xSourceIndex_ = data.xySourceX;
    ySourceIndex_ = data.xySourceY;
    emit titleChanged();
    emit valuesChanged();
    emit dataChanged(true);
}

void ScopeHorizontal::sendRequestTimeBase(int index)
{
    postMenuRequest(param::timeBaseIndex, index);
}

void ScopeHorizontal::sendRequestSavRel(bool on)
{
    postMenuRequest(param::saveRestart, on ? 1 : 0);
}

void ScopeHorizontal::sendRequestMinMax(bool on)
{
    postMenuRequest(param::minMax, on ? 1 : 0);
}

void ScopeHorizontal::sendRequestRepsig(bool on)
{
    postMenuRequest(param::repSig, on ? 1 : 0);
}

void ScopeHorizontal::sendRequestAverage(int index)
{
    postMenuRequest(param::averageCount, index);
}

void ScopeHorizontal::sendRequestMode(int index)
{
    // A list box at its empty state (-1) has no mode to send.
    const int mode = indexToMode(index);
    if (mode >= 0)
        postMenuRequest(param::traceMode, mode);
}

void ScopeHorizontal::sendRequestType(int index)
{
    postMenuRequest(param::traceFormat, index);
}

void ScopeHorizontal::sendRequestWindow(int index)
{
    postMenuRequest(param::fftWindow, index);
}

void ScopeHorizontal::sendRequestFftVerticalScale(int index)
{
    postMenuRequest(param::fftVerticalScale, index);
}

void ScopeHorizontal::sendRequestXSource(int index)
{
    postMenuRequest(param::xySourceX, index);
}

void ScopeHorizontal::sendRequestYSource(int index)
{
    postMenuRequest(param::xySourceY, index);
}
