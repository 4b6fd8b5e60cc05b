#include "ui/scope/kalvexoverview.h"

#include "core/gest_db.h"
#include "hardware/kalvex.h"
#include "ui/frame/homeview.h"

#include <QMouseEvent>

#include <climits>
#include <memory>

namespace {

int16_t traceColour(int n)
{
    const int16_t colours[4] = {data.traceColorCh1, data.traceColorCh2, data.traceColorCh3, data.traceColorCh4};
    return colours[n];
}

} // namespace

KalvexOverview::KalvexOverview(QQuickItem* parent) : QQuickItem(parent)
{
    setAcceptedMouseButtons(Qt::AllButtons);
    setVisible(false);
    timer_.setSingleShot(true);
    timer_.setInterval(kShowMs);
    // A restart while shown gives the whole 10 s again, not a coarse share of it.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &KalvexOverview::timerSlot);
    for (unsigned short ch = 1; ch <= 4; ++ch)
        fillKalvexList(ch, lists_[ch - 1], nullptr, nullptr, static_cast<unsigned short>(traceColour(ch - 1)));
}

KalvexOverview::~KalvexOverview()
{
    disconnect(&timer_, &QTimer::timeout, this, &KalvexOverview::timerSlot);
    disconnect(kalvexConnection_);
}

QString KalvexOverview::colourName(int colourIndex)
{
    switch (colourIndex) {
    case 1: return QStringLiteral("#7F7FFF");
    case 2: return QStringLiteral("#7FFF7F");
    case 5: return QStringLiteral("#FF7FFF");
    default: return QStringLiteral("#FF7F7F");
    }
}

bool KalvexOverview::leadingInteger(const QString& text, long* value)
{
    int i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= text.size() || text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
        return false;
    long magnitude = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        const int digit = text[i].unicode() - '0';
        // A long digit string is "very much": it saturates instead of wrapping.
        magnitude = magnitude > (LONG_MAX - digit) / 10 ? LONG_MAX : magnitude * 10 + digit;
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

void KalvexOverview::setActive()
{
    if (HomeView* view = po_g_homeView) {
        disconnect(kalvexConnection_);
        kalvexConnection_ = connect(view, &HomeView::displayKalvexSignal, this, &KalvexOverview::displayKalvexSlot);
    }
}

void KalvexOverview::notify(int channelIndex)
{
    switch (channelIndex) {
    case 0: emit colorCh1Changed(); emit kalvexListCh1Changed(); break;
    case 1: emit colorCh2Changed(); emit kalvexListCh2Changed(); break;
    case 2: emit colorCh3Changed(); emit kalvexListCh3Changed(); break;
    default: emit colorCh4Changed(); emit kalvexListCh4Changed(); break;
    }
}

void KalvexOverview::fillKalvexList(unsigned short channel, QStringList& list, TKalvex* probe, TKalvex* chosen,
                                    unsigned short colourIndex)
{
    const int n = channel >= 1 && channel <= 4 ? channel - 1 : 3;
    list.clear();
    list << tr("CH") + QString::number(n + 1);
    QString between;
    if (chosen)
        chosen->getMessageBetweenChannels(between);
    if (probe) {
        QString text;
        probe->getMessageInput1(text);
        list << text;
        probe->getMessageInput2(text);
        list << text;
        probe->getMessageFloating1(text);
        list << text;
        probe->getMessageFloating2(text);
        list << text;
        if (!chosen)
            probe->getMessageBetweenChannels(between);
        list << between;
        probe->getMessageComments(text);
        list << text;
    } else {
        list << tr("600 V CAT III") << tr("---") << tr("300 V CAT III") << tr("---")
             << (chosen ? between : tr("600 V CAT III")) << tr("---");
    }
    colours_[n] = colourName(colourIndex);
    notify(n);
}

void KalvexOverview::displayKalvexSlot()
{
    // Copies of the links: a probe stays for this call even if the controller replaces it.
    std::shared_ptr<TKalvex> probes[4];
    for (int n = 0; n < 4; ++n)
        probes[n] = smartProbeLink(n);
    long limit = kRatingLimit;
    TKalvex* chosen = nullptr;
    for (int n = 0; n < 4; ++n) {
        if (!probes[n])
            continue;
        QString rating;
        probes[n]->getMessageBetweenChannels(rating);
        long value = 0;
        if (!rating.isEmpty() && leadingInteger(rating, &value) && value < limit) {
            limit = value;
            chosen = probes[n].get();
        }
    }
    for (unsigned short ch = 1; ch <= 4; ++ch)
        fillKalvexList(ch, lists_[ch - 1], probes[ch - 1].get(), chosen,
                       static_cast<unsigned short>(traceColour(ch - 1)));
    emit kalvexListDisplay();
    timer_.start();
    setVisible(true);
}

void KalvexOverview::timerSlot()
{
    setVisible(false);
}

void KalvexOverview::mousePressEvent(QMouseEvent* event)
{
    timer_.stop();
    setVisible(false);
    event->accept();
}
