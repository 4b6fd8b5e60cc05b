#include "ui/frame/messagebox.h"

#include "core/gest_db.h"
#include "network/user_int.h"
#include "ui/frame/homeview.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int kWidth = 500;
constexpr int kHeight = 100;

// While one of these is shown no other message, not even 0, replaces it.
bool locks(int code) { return code == 13 || code == 15; }

// The keys of the numbered texts, written out so that the catalogue tools see every one.
const char* const kKeys[] = {
    QT_TRANSLATE_NOOP("MessageBox", "message1"),  QT_TRANSLATE_NOOP("MessageBox", "message2"),
    QT_TRANSLATE_NOOP("MessageBox", "message3"),  QT_TRANSLATE_NOOP("MessageBox", "message4"),
    QT_TRANSLATE_NOOP("MessageBox", "message5"),  QT_TRANSLATE_NOOP("MessageBox", "message6"),
    QT_TRANSLATE_NOOP("MessageBox", "message7"),  QT_TRANSLATE_NOOP("MessageBox", "message8"),
    QT_TRANSLATE_NOOP("MessageBox", "message9"),  QT_TRANSLATE_NOOP("MessageBox", "message10"),
    QT_TRANSLATE_NOOP("MessageBox", "message11"), QT_TRANSLATE_NOOP("MessageBox", "message12"),
    QT_TRANSLATE_NOOP("MessageBox", "message13"), QT_TRANSLATE_NOOP("MessageBox", "message14"),
    QT_TRANSLATE_NOOP("MessageBox", "message15"), QT_TRANSLATE_NOOP("MessageBox", "message16"),
    QT_TRANSLATE_NOOP("MessageBox", "message17"), QT_TRANSLATE_NOOP("MessageBox", "message18"),
    QT_TRANSLATE_NOOP("MessageBox", "message19"), QT_TRANSLATE_NOOP("MessageBox", "message20"),
    QT_TRANSLATE_NOOP("MessageBox", "message21"), QT_TRANSLATE_NOOP("MessageBox", "message22"),
    QT_TRANSLATE_NOOP("MessageBox", "message23"), QT_TRANSLATE_NOOP("MessageBox", "message24"),
    QT_TRANSLATE_NOOP("MessageBox", "message25"), QT_TRANSLATE_NOOP("MessageBox", "message26"),
    QT_TRANSLATE_NOOP("MessageBox", "message27"), QT_TRANSLATE_NOOP("MessageBox", "message28"),
    QT_TRANSLATE_NOOP("MessageBox", "message29"), QT_TRANSLATE_NOOP("MessageBox", "message30"),
    QT_TRANSLATE_NOOP("MessageBox", "message31"), QT_TRANSLATE_NOOP("MessageBox", "message32"),
    QT_TRANSLATE_NOOP("MessageBox", "message33"),
};
constexpr int kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

// The text of message 1 .. 33; any other number has none.
QString text(int code)
{
    if (code < 1 || code > kKeyCount)
        return QString();
    return QCoreApplication::translate("MessageBox", kKeys[code - 1]);
}

} // namespace

MessageBox::MessageBox(QQuickItem* parent)
    : QQuickPaintedItem(parent)
    , pen_(Qt::blue, 4)
    , hideTimer_(new QTimer(this))
{
    font_.setPointSize(18);
    font_.setWeight(75);
    setWidth(kWidth);
    setHeight(kHeight);
    setVisible(false);
    setAntialiasing(true);
    hideTimer_->setSingleShot(true);
    hideTimer_->setInterval(kTimedMs);
    connect(hideTimer_, SIGNAL(timeout()), this, SLOT(timerSlot()));
}

MessageBox::~MessageBox() = default;

void MessageBox::setActive()
{
    // The root sets po_g_homeView in the program; a root loaded on its own (tests) is the window.
    HomeView* root = po_g_homeView ? po_g_homeView : qobject_cast<HomeView*>(window());
    if (root)
        connect(root, &HomeView::screenMessageSignal, this, &MessageBox::screenMessageSlot, Qt::UniqueConnection);
}

void MessageBox::screenMessageSlot(int code, QString supplied)
{
    if (locks(currentCode_))
        return;
    currentCode_ = code;
    if (code == 0) {
        // The hide timer keeps running: its end publishes the empty text once more.
        message_.clear();
        detail_.clear();
        setPelanodeWarning(QString());
        setVisible(false);
        update();
        return;
    }

    detail_.clear();
    hideTimer_->stop();
    bool held = false;
    int holdMs = kTimedMs;
    switch (code) {
    case 27:
        // Named files: a stored file refused at start, shown for a while beside the start text.
        message_ = text(code);
        if (supplied.isEmpty())
            held = true;
        else
            detail_ = QLatin1Char(' ') + supplied;
        break;
    case 6: case 10: case 33:
        message_ = text(code);
        held = true;
        break;
    case 8:
        message_ = text(code) + QLatin1Char(' ') + supplied;
        held = true;
        break;
    case 13:
        message_ = text(code) + QString::number(data.selfTestResult, 16);
        held = true;
        break;
    case 14: case 25:
        message_ = text(code);
        detail_ = QLatin1Char(' ') + supplied;
        break;
    case 15:
        message_ = text(code);
        holdMs = kLongTimedMs;
        break;
    case 29:
        message_ = text(code);
        detail_ = QLatin1Char(' ') + supplied;
        held = true;
        break;
    case 34:
        message_ = text(19);
        held = true;
        break;
    case 35:
        // The recorder with every channel off (timed: nothing would end it).
        message_ = QCoreApplication::translate("MessageBox", "message35");
        break;
    default:
        // The remaining numbers are timed texts; one without a text gives an empty pop-up.
        message_ = text(code);
        break;
    }

    setPelanodeWarning(message_ + detail_);
    if (!held) {
        hideTimer_->setInterval(holdMs);
        hideTimer_->start();
    }
    setVisible(true);
    update();
}

void MessageBox::timerSlot()
{
    setVisible(false);
    currentCode_ = 0;
    message_.clear();
    detail_.clear();
    setPelanodeWarning(QString());
    update();
}

void MessageBox::paint(QPainter* painter)
{
    layout_.begin();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setFont(font_);
    painter->setPen(pen_);
    painter->setOpacity(0.8);

    const int w = static_cast<int>(width());
    const int h = static_cast<int>(height());
    layout_.fill(painter, QRect(0, 0, w, h), Qt::gray);
    painter->drawRoundedRect(QRect(2, 2, w - 4, h - 4), 10, 10);

    const QFontMetrics metrics = painter->fontMetrics();
    const int ascent = metrics.ascent();
    auto centredX = [&](const QString& s) { return (w - metrics.horizontalAdvance(s)) / 2; };
    if (!detail_.isEmpty()) {
        layout_.text(painter, QPointF(centredX(message_), ascent + 10), message_, Qt::gray);
        layout_.text(painter, QPointF(centredX(detail_), 2 * (ascent + 10)), detail_, Qt::gray);
    } else {
        layout_.text(painter, QPointF(centredX(message_), (h + ascent) / 2 - 5), message_, Qt::gray);
    }
}
