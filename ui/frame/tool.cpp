#include "ui/frame/tool.h"

#include "core/gest_db.h"

#include <QMouseEvent>
#include <QPainter>

const TZoomRect Tool::kTimeZoomOff = {1.0f, 0, 40.0f, 0};
const TZoomRect Tool::kFftZoomOff = {1.0f, 0, 40.0f, 0};

namespace {
// Pressed look: the button moves this far right and down while held.
constexpr qreal kPressShift = 5;

void post(int32_t code, intptr_t value, intptr_t auxValue = 0)
{
    pipe_dial request{REQ_SET_PARAM, code, auxValue, value, 0.0f, senderValue(MENU_id)};
    // A full box drops the request; the button has nothing better to do.
    o_g_consMessageBox.send(&request);
}
} // namespace

Tool::Tool(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAcceptedMouseButtons(Qt::LeftButton);
    setAntialiasing(true);
}

Tool::~Tool() = default;

void Tool::setSource(const QString& path)
{
    source_ = path;
    bitmap_ = QPixmap();
    bitmap_.load(QStringLiteral(":/") + path);
    update();
}

void Tool::paint(QPainter* painter)
{
    layout_.begin();
    if (bitmap_.isNull())
        return;
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    layout_.picture(painter, QRectF(0, 0, width(), height()), bitmap_);
}

void Tool::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (!pressed_) {
        pressed_ = true;
        setPosition(position() + QPointF(kPressShift, kPressShift));
    }
    event->accept();
}

void Tool::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressed_) {
        event->ignore();
        return;
    }
    pressed_ = false;
    setPosition(position() - QPointF(kPressShift, kPressShift));
    event->accept();
    postRequest();
    emit toolClicked();
}

void Tool::mouseUngrabEvent()
{
    // The press was taken away (no release will come): only the look is restored.
    if (pressed_) {
        pressed_ = false;
        setPosition(position() - QPointF(kPressShift, kPressShift));
    }
}

void Tool::postRequest()
{
    switch (param_) {
    case NotDefined:
        break;
    case ScopeMode:
        post(param::instrumentMode, value_);
        break;
    case RunStop:
        post(param::acqRunStop, data.acqRunStop == 0 ? 1 : 0);
        break;
    case ZoomOff:
        post(param::zoomState, 4, reinterpret_cast<intptr_t>(&kTimeZoomOff));
        post(param::fftZoomState, 4, reinterpret_cast<intptr_t>(&kFftZoomOff));
        post(param::xyZoomFactor, 100);
        break;
    case MeterAuxMeas:
        post(param::meterAuxMeas, value_);
        break;
    case MeterMeasType:
        post(param::meterFunction, value_);
        break;
    case HarmFreq:
        post(param::harmonicFreq, value_);
        break;
    case HarmPower:
        post(param::harmPower, value_);
        break;
    case BusDiag:
        post(param::busDiag, data.busDiag == 0 ? 1 : 0);
        break;
    case Help:
        post(param::keyHelpOn, value_);
        break;
    }
}
