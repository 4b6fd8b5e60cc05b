#include "ui/frame/keyhelp.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "hardware/CmdesBase.h"
#include "ui/frame/homeview.h"

#include <QCoreApplication>

namespace {

constexpr int kKeyHelpParameter = 132;
constexpr int kKeyHelpNotice = 1;

struct TPicture {
    int bit;
    const char* file;
};

// 0x200000 and 0x400000 differ on the two-channel model: see pictureOf.
const TPicture kPictures[] = {
    {0x1, "Touche6.png"},        {0x2, "Touche19.png"},      {0x4, "Touche20.png"},
    {0x8, "Touche24.png"},       {0x10, "Touche5.png"},      {0x20, "Touche19.png"},
    {0x40, "Touche20.png"},      {0x80, "Touche16.png"},     {0x100, "Touche23.png"},
    {0x200, "Touche4.png"},      {0x400, "Touche18.png"},    {0x800, "Touche18.png"},
    {0x1000, "Touche15.png"},    {0x2000, "Touche22.png"},   {0x4000, "Touche3.png"},
    {0x8000, "Touche17.png"},    {0x10000, "Touche17.png"},  {0x20000, "Touche14.png"},
    {0x40000, "Touche21.png"},   {0x80000, "Touche2.png"},   {0x100000, "Touche10.png"},
    {0x800000, "Touche13.png"},  {0x1000000, "Touche2.png"}, {0x2000000, "Touche1.png"},
    {0x4000000, "Touche7.png"},  {0x8000000, "Touche8.png"}, {0x10000000, "Touche9.png"},
};

struct TText {
    int first;
    int last;
    const char* key;
};

// Key codes 50-61 are handled apart (they depend on the model).
const TText kTexts[] = {
    {10, 10, QT_TRANSLATE_NOOP("KeyHelp", "T_INSTRUMENT")},
    {11, 12, QT_TRANSLATE_NOOP("KeyHelp", "T_BACKLIGHT_M")},
    {13, 13, QT_TRANSLATE_NOOP("KeyHelp", "T_FULL_SCREEN")},
    {14, 14, QT_TRANSLATE_NOOP("KeyHelp", "T_PRINT_SCREEN")},
    {15, 15, QT_TRANSLATE_NOOP("KeyHelp", "T_REF_ON_OFF")},
    {16, 16, QT_TRANSLATE_NOOP("KeyHelp", "T_AUTOSET")},
    {20, 23, QT_TRANSLATE_NOOP("KeyHelp", "T_AUTOSET")},
    {30, 34, QT_TRANSLATE_NOOP("KeyHelp", "T_AUTOMEAS")},
    {35, 36, QT_TRANSLATE_NOOP("KeyHelp", "T_REF_MEAS")},
    {37, 37, QT_TRANSLATE_NOOP("KeyHelp", "T_CURSORS")},
    {62, 62, QT_TRANSLATE_NOOP("KeyHelp", "T_FULL_TRACE")},
    {70, 77, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_VOLT_MV")},
    {78, 85, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_CADRAGE_H")},
    {86, 93, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_CADRAGE_H_FFT")},
    {94, 97, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_COUPLAGE")},
    {100, 111, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_METER_RANGE_mV")},
    {112, 115, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_METER_COUPLAGE")},
    {120, 121, QT_TRANSLATE_NOOP("KeyHelp", "T_TIME_S")},
    {122, 123, QT_TRANSLATE_NOOP("KeyHelp", "T_POS_HORIZ_G")},
    {126, 126, QT_TRANSLATE_NOOP("KeyHelp", "T_ZOOM")},
    {127, 127, QT_TRANSLATE_NOOP("KeyHelp", "T_ZOOM_FFT")},
    {128, 128, QT_TRANSLATE_NOOP("KeyHelp", "T_ZOOM_XY")},
    {130, 130, QT_TRANSLATE_NOOP("KeyHelp", "T_LEVEL_50")},
    {140, 143, QT_TRANSLATE_NOOP("KeyHelp", "T_LEVEL_50")},
    {131, 131, QT_TRANSLATE_NOOP("KeyHelp", "T_SINGLE_REFR")},
    {132, 132, QT_TRANSLATE_NOOP("KeyHelp", "T_RUN_HOLD")},
    {144, 147, QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_SLOPE")},
};

const char* const kMathOn = QT_TRANSLATE_NOOP("KeyHelp", "T_MATH_ON");
const char* const kChannelOn = QT_TRANSLATE_NOOP("KeyHelp", "T_CH1_ON");
const char* const kNotUsed = QT_TRANSLATE_NOOP("KeyHelp", "KEY_NOT_USED");

// The program sets po_g_homeView; a root loaded on its own (tests) is the window.
HomeView* root(QQuickItem* item)
{
    return po_g_homeView ? po_g_homeView : qobject_cast<HomeView*>(item->window());
}

} // namespace

KeyHelp::KeyHelp(QQuickItem* parent)
    : QQuickItem(parent)
{
    setVisible(false);
}

KeyHelp::~KeyHelp()
{
    if (HomeView* view = root(this)) {
        disconnect(view, &HomeView::screenMajSignal, this, &KeyHelp::screenMajSlot);
        disconnect(view, &HomeView::screenIhmSignal, this, &KeyHelp::screenIhmSlot);
    }
}

void KeyHelp::setActive()
{
    if (HomeView* view = root(this))
        connect(view, &HomeView::screenMajSignal, this, &KeyHelp::screenMajSlot, Qt::UniqueConnection);
}

void KeyHelp::exit()
{
    pipe_dial request{REQ_SET_PARAM, kKeyHelpParameter, 0, 0, 0.0f, senderValue(MENU_id)};
    // A full box drops the request; the overlay stays and can be touched again.
    o_g_consMessageBox.send(&request);
}

void KeyHelp::setDisplay(bool on)
{
    setVisible(on);
    HomeView* view = root(this);
    if (!on) {
        if (view)
            disconnect(view, &HomeView::screenIhmSignal, this, &KeyHelp::screenIhmSlot);
        return;
    }
    if (view)
        connect(view, &HomeView::screenIhmSignal, this, &KeyHelp::screenIhmSlot, Qt::UniqueConnection);
    text_ = tr("AIDE_INFO");
    imgFile_.clear();
    emit sigHelpMsg(text_, imgFile_);
}

void KeyHelp::screenMajSlot(int parameter)
{
    if (parameter == kKeyHelpParameter)
        setDisplay(data.keyHelpOn != 0);
}

QString KeyHelp::pictureOf(int keyBit, bool twoChannelModel)
{
    if (keyBit == 0x200000)
        return QString::fromLatin1(twoChannelModel ? "Touche11M.png" : "Touche11.png");
    if (keyBit == 0x400000)
        return QString::fromLatin1(twoChannelModel ? "Touche12M.png" : "Touche12.png");
    for (const TPicture& p : kPictures)
        if (p.bit == keyBit)
            return QString::fromLatin1(p.file);
    return QString();
}

const char* KeyHelp::textKeyOf(int keyCode, bool twoChannelModel)
{
    if (keyCode >= 50 && keyCode <= 61)
        return twoChannelModel ? kMathOn : kChannelOn;
    for (const TText& t : kTexts)
        if (keyCode >= t.first && keyCode <= t.last)
            return t.key;
    return kNotUsed;
}

void KeyHelp::screenIhmSlot(int code, int keyBit, int keyCode)
{
    if (code != kKeyHelpNotice)
        return;
    // Read at each key: the model is never cached.
    const bool twoChannel = EtatLogique(ETAT_TWO_CHANNEL_MODEL) != 0;
    imgFile_ = pictureOf(keyBit, twoChannel);
    text_ = QCoreApplication::translate("KeyHelp", textKeyOf(keyCode, twoChannel));
    emit sigHelpMsg(text_, imgFile_);
}
