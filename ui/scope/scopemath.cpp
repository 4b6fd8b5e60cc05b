#include "ui/scope/scopemath.h"

#include "acquisition/TFonction.h"
#include "core/gest_db.h"
#include "ui/frame/menurequest.h"
#include "ui/frame/homeview.h"
#include "ui/scope/scopevertical.h"
#include "ui/frame/zinccolor.h"

#include <cstring>

namespace {

// Channel index 1, 2, 3 as given; any other value is channel index 0.
int channelIndex(int channel)
{
    return channel >= 1 && channel <= 3 ? channel : 0;
}


} // namespace

ScopeMath::ScopeMath(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* view = po_g_homeView)
        majConnection_ = connect(view, &HomeView::screenMajSignal, this, &ScopeMath::screenMajSlot);
}

ScopeMath::~ScopeMath()
{
    disconnect(majConnection_);
}

void ScopeMath::screenMajSlot(int)
{
    update();
}

QString ScopeMath::setupExpression() const
{
    const char* const texts[4] = {data.mathExprCh1, data.mathExprCh2, data.mathExprCh3, data.mathExprCh4};
    const char* text = texts[channelIndex(mathChannel_)];
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, sizeof data.mathExprCh1)));
}

void ScopeMath::setClicked(int channel)
{
    mathChannel_ = channel;
    const int n = channelIndex(channel);
    title_ = tr("Fonction mathematique") + QStringLiteral(" F") + QString::number(n + 1);
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    color_ = getZincColor(static_cast<unsigned short>(colours[n]));
    func_ = setupExpression();
    emit titleChanged();
    emit colorChanged();
    emit dataChanged();
    emit funcChanged();
}

void ScopeMath::setFunctionFromSetup()
{
    func_ = setupExpression();
    emit funcChanged();
}

bool ScopeMath::sendRequest(QString text)
{
    char* buffer = buffers_[nextBuffer_];
    // Always terminated: the compiler and the controller's copy read up to the NUL.
    const QByteArray bytes = ScopeVertical::cutUtf8(text, kTextBytes);
    std::memset(buffer, 0, kTextBytes + 1);
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    char empty[1] = {0};
    TFonction scratch(0, empty);
    scratch.SetFonctionString(buffer, false);
    if (!scratch.AnalyseSyntaxique() || !scratch.AnalyseSemantique() || !scratch.CodageNPI())
        return false;
    nextBuffer_ = (nextBuffer_ + 1) % kBufferRing;
    const int n = channelIndex(mathChannel_);
    postMenuRequest(param::mathExprCh1 + n, reinterpret_cast<intptr_t>(buffer));
    postMenuRequest(param::mathFunctionCh1 + n, 1);
    return true;
}
