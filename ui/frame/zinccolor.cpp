#include "ui/frame/zinccolor.h"

namespace {
constexpr unsigned short kPaletteSize = 16;

// Built on first use and never destroyed, so that late callers at exit still find it.
const QColor* palette()
{
    static const QColor* const table = [] {
        static const Qt::GlobalColor kBase[kPaletteSize] = {
            Qt::black,    Qt::blue,        Qt::green,      Qt::cyan,
            Qt::red,      Qt::magenta,     Qt::yellow,     Qt::lightGray,
            Qt::darkGray, Qt::darkBlue,    Qt::darkGreen,  Qt::darkCyan,
            Qt::darkRed,  Qt::darkMagenta, Qt::darkYellow, Qt::white,
        };
        auto* colours = new QColor[kPaletteSize];
        for (unsigned short i = 0; i < kPaletteSize; ++i)
            colours[i] = QColor(kBase[i]).lighter(130);
        return colours;
    }();
    return table;
}
} // namespace

QColor getZincColor(unsigned short index)
{
    return palette()[index < kPaletteSize ? index : kPaletteSize - 1];
}
