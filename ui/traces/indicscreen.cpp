#include "ui/traces/indicscreen.h"

#include "core/gest_db.h"
#include "ui/traces/cursor.h"
#include "ui/frame/homeview.h"
#include "ui/traces/indicator.h"
#include "ui/traces/zoomarea.h"
#include "ui/traces/zoomguard.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

IndicScreen::IndicScreen(QQuickItem* parent, unsigned short channelMask, int x, int y, int width,
                         int height)
    : QQuickPaintedItem(parent),
      channelMask_(static_cast<unsigned short>((channelMask | channelMask >> 8) & 0xF)),
      dragged_(nullptr),
      activeCursors_(0),
      indicators_{},
      cursors_{},
      zoomArea_(nullptr),
      zoomStart_{0, 0},
      pressPending_(false),
      home_(po_g_homeView)
{
    setX(x);
    setY(y);
    setWidth(width);
    setHeight(height);
    setFillColor(Qt::transparent);
    setAcceptedMouseButtons(Qt::AllButtons);
    if (home_) {
        homeConnections_.push_back(connect(home_.data(), &HomeView::screenMajSignal, this, &IndicScreen::screenMajSlot));
        homeConnections_.push_back(connect(home_.data(), &HomeView::displayKalvexSignal, this, &IndicScreen::displayKalvexSlot));
    }
}

IndicScreen::~IndicScreen()
{
    for (const QMetaObject::Connection& c : homeConnections_)
        disconnect(c);
    // Deleted mid-drag (a layout rebuilt from a remote request): the release never comes.
    endPress();
    for (Indicator*& indicator : indicators_) {
        delete indicator;
        indicator = nullptr;
    }
    for (Cursor*& cursor : cursors_) {
        delete cursor;
        cursor = nullptr;
    }
    delete zoomArea_;
}

Indicator* IndicScreen::indicator(int slot) const
{
    return (slot >= 0 && slot < kIndicatorSlots) ? indicators_[slot] : nullptr;
}

Cursor* IndicScreen::cursor(int slot) const
{
    return (slot >= 0 && slot < kCursorSlots) ? cursors_[slot] : nullptr;
}

void IndicScreen::setCursor(int slot, Cursor* cursor)
{
    if (cursors_[slot] != cursor)
        delete cursors_[slot];
    cursors_[slot] = cursor;
}

void IndicScreen::setIndicator(int slot, Indicator* indicator)
{
    if (indicators_[slot] == dragged_)
        dragged_ = nullptr;
    if (indicators_[slot] != indicator)
        delete indicators_[slot];
    indicators_[slot] = indicator;
}

void IndicScreen::setZoomArea(ZoomArea* area)
{
    delete zoomArea_;
    zoomArea_ = area;
}

int32_t IndicScreen::setupValue(int index)
{
    return get_db(adr_par, type_par, &data, static_cast<uint32_t>(index));
}

QPoint IndicScreen::overlayPoint(const QPointF& position) const
{
    const double w = width();
    const double h = height();
    if (!(w > 0.0) || !(h > 0.0))
        return QPoint(0, 0);
    const double px = std::trunc(position.x() * 1000.0 / w);
    const double py = std::trunc(1000.0 - position.y() * 1000.0 / h);
    return QPoint(static_cast<int>(std::clamp(px, -1.0e9, 1.0e9)),
                  static_cast<int>(std::clamp(py, -1.0e9, 1.0e9)));
}

void IndicScreen::beginPress()
{
    pressPending_ = true;
    if (home_)
        emit home_->refreshAllowedSignal(false);
}

void IndicScreen::endPress()
{
    if (!pressPending_)
        return;
    pressPending_ = false;
    if (home_)
        emit home_->refreshAllowedSignal(true);
}

void IndicScreen::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    beginPress();
    QPoint p = overlayPoint(event->localPos());
    dragged_ = nullptr;
    for (Indicator* indicator : indicators_) {
        if (indicator && indicator->isNear(p)) {
            dragged_ = indicator;
            dragged_->setActive(true);
            activeCursors_ = 0;
            break;
        }
    }
    if (!dragged_) {
        unsigned short word = 0;
        for (Cursor* cursor : cursors_)
            if (cursor && cursor->isNear(p))
                word = cursor->setActive(true, word);
        activeCursors_ = word;
        if (word == 0 && zoomArea_) {
            zoomStart_[0] = p.x();
            zoomStart_[1] = 1000 - p.y();
        }
    }
    update();
}

void IndicScreen::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!pressPending_ || event->localPos().x() < 0.0 || event->localPos().y() < 0.0)
        return;
    QPoint p = overlayPoint(event->localPos());
    if (dragged_) {
        dragged_->setPositionFromMouse(p);
    } else if (activeCursors_ != 0) {
        for (Cursor* cursor : cursors_)
            if (cursor && cursor->isActive())
                cursor->setPositionFromMouse(p);
    } else if (zoomArea_) {
        const int y = 1000 - p.y();
        zoomArea_->setRect(QRect(QPoint(std::min(zoomStart_[0], p.x()), std::min(zoomStart_[1], y)),
                                 QPoint(std::max(zoomStart_[0], p.x()) - 1, std::max(zoomStart_[1], y) - 1)));
    }
    update();
}

void IndicScreen::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!pressPending_)
        return;
    if (dragged_) {
        Indicator* indicator = dragged_;
        dragged_ = nullptr;
        indicator->setActive(false);
    } else if (activeCursors_ != 0) {
        for (Cursor* cursor : cursors_)
            if (cursor)
                cursor->setActive(false, 0);
        activeCursors_ = 0;
    } else if (zoomArea_) {
        const QRect& r = zoomArea_->rect();
        if (r.width() >= kMinZoomSide && r.height() >= kMinZoomSide)
            zoomArea_->sendRequest();
        zoomArea_->reset();
    }
    update();
    endPress();
}

void IndicScreen::mouseUngrabEvent()
{
    if (!pressPending_)
        return;
    // The release will not come: what was dragged is committed where the finger left it, a
    // zoom rectangle being drawn is dropped.
    if (dragged_) {
        Indicator* indicator = dragged_;
        dragged_ = nullptr;
        indicator->setActive(false);
    } else if (activeCursors_ != 0) {
        for (Cursor* cursor : cursors_)
            if (cursor)
                cursor->setActive(false, 0);
        activeCursors_ = 0;
    } else if (zoomArea_) {
        zoomArea_->reset();
    }
    update();
    endPress();
}

void IndicScreen::touchUngrabEvent()
{
    mouseUngrabEvent();
}

void IndicScreen::paint(QPainter* painter)
{
    painter->setWindow(0, 0, 1000, 1000);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->fillRect(QRect(0, 0, 1000, 1000), Qt::transparent);
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (Cursor* cursor : cursors_)
        if (cursor)
            cursor->paint(*painter);
    for (Indicator* indicator : indicators_)
        if (indicator)
            indicator->paint(*painter);
    if (zoomArea_ && !zoomArea_->rect().isEmpty()) {
        painter->save();
        painter->setOpacity(0.4);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QBrush(Qt::white, Qt::SolidPattern));
        painter->drawRect(zoomArea_->rect());
        painter->restore();
    }
}

void IndicScreen::cursorsInit(unsigned short state, unsigned short channelBits)
{
    const bool common = (channelBits & channelMask_) != 0;
    const bool manual = common && (state & 1) != 0;
    const bool automatic = common && (state & 3) == 3;
    for (int slot = 0; slot < kCursorSlots; ++slot) {
        if (!cursors_[slot])
            continue;
        bool visible = automatic;
        if (slot <= 2)
            visible = manual;
        else if (slot <= 4)
            visible = manual && channelBits != 8191;
        cursors_[slot]->setVisible(visible);
    }
}

void IndicScreen::displayKalvexSlot()
{
    static const int kColourParam[4] = {param::traceColorCh1, param::traceColorCh2, param::traceColorCh3,
                                        param::traceColorCh4};
    for (int slot = 0; slot < kIndicatorSlots; ++slot) {
        // Slots 0-3, 4-7 and 10-13 each run over channels 1-4; 8 and 9 take no channel colour.
        if (!indicators_[slot] || slot == 8 || slot == 9)
            continue;
        const int channel = slot < 8 ? slot % 4 : slot - 10;
        indicators_[slot]->setColor(static_cast<unsigned short>(setupValue(kColourParam[channel])));
    }
    for (Cursor* cursor : cursors_)
        if (cursor)
            cursor->setReferenceChannel(static_cast<unsigned short>(data.measRefChannel));
    setVisibleIndics();
}

void IndicScreen::screenMajSlot(int)
{
}

void IndicScreen::setVisibleIndics()
{
}

void IndicScreen::preparePlacement()
{
    for (Cursor* cursor : cursors_)
        if (cursor)
            cursor->setReferenceChannel(static_cast<unsigned short>(data.measRefChannel));
    setVisibleIndics();
    cursorsInit(static_cast<unsigned short>(data.cursorState), static_cast<unsigned short>(data.measRefChannel));
}

void IndicScreen::zoomAll(float factor, int32_t position)
{
    for (Indicator* indicator : indicators_)
        if (indicator)
            indicator->setZoom(factor, position);
    for (Cursor* cursor : cursors_)
        if (cursor)
            cursor->setZoom(factor, position);
}

void IndicScreen::placeFromCursorTable(const int (*words)[2])
{
    const int32_t* table = setupLinks().cursorTablePtr;
    if (table) {
        for (int slot = 0; slot < 5; ++slot) {
            if (!cursors_[slot] || (words[slot][0] < 0 && words[slot][1] < 0))
                continue;
            QPoint v(words[slot][0] < 0 ? 0 : table[words[slot][0]], words[slot][1] < 0 ? 0 : table[words[slot][1]]);
            cursors_[slot]->setPositionFromSetup(v);
        }
    }
    update();
}
