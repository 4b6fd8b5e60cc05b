// Status-line texts of a setting: label and value with its unit, or the cursor readings.
#include "core/setupparam.h"

#include "acquisition/TAcquisition.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/traces/automeaschannel.h"

#include <QObject>

#include <pthread.h>

namespace {
struct TMeasLabel {
    const char* label;
    unsigned short id;
};

TAcquisition* liveTrace(int channel)
{
    TSetupLinks& links = setupLinks();
    TAcquisition* const traces[4] = {links.acqCh1, links.acqCh2, links.acqCh3, links.acqCh4};
    return traces[channel];
}

int16_t sensitivityOf(const database* db, int channel)
{
    const int16_t values[4] = {db->sensitivityCh1, db->sensitivityCh2, db->sensitivityCh3, db->sensitivityCh4};
    return values[channel];
}

QString channelSuffix(int channel, const char* tail = ":")
{
    return QStringLiteral("( %1 )").arg(channel + 1) + QLatin1String(tail);
}

// label, then ScopePrintf(2, g + v x k) + unit with '{' shown as the ohm sign.
void fillValue(QStringList* list, const QString& label, float v, float k, float g, const QString& unit)
{
    const float value = g + v * k;
    QString text = ScopePrintf(2, value) + unit;
    text.replace(QLatin1Char('{'), QChar(0x03A9));
    list->clear();
    *list << label << text;
}

// Level of a channel's setting expressed in its live trace's vertical scale kind.
void fillLevel(QStringList* list, const QString& label, int channel, int16_t v, TScale kind, const database* db)
{
    TAcquisition* trace = liveTrace(channel);
    if (trace == nullptr) {
        // No trace to scale with: the label alone keeps the line readable.
        list->clear();
        *list << label << QStringLiteral("----- ");
        return;
    }
    const float k = 262.0f * GetVerticalScale(trace, kind, sensitivityOf(db, channel));
    fillValue(list, label, float(v), k, GetVerticalOffset(trace, kind), GetVerticalUnit(trace, kind, true));
}

void fillReadings(QStringList* list, unsigned short mask, const TMeasLabel* readings, int count)
{
    list->clear();
    // The readings come from the live cursor table and records: read them as the workers do.
    pthread_mutex_lock(&o_g_autoMeasMutex);
    for (int i = 0; i < count; ++i) {
        QString text;
        AutoMeasChannel::getMeasurement(mask, readings[i].id, &text, nullptr);
        *list << QString::fromLatin1(readings[i].label) << text;
    }
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

unsigned short oneBitMask(uint8_t source)
{
    return source < 16 ? static_cast<unsigned short>(1u << source) : 0;
}
} // namespace

bool getSetupParam(database* db, int32_t code, QStringList* list)
{
    switch (code) {
    case param::sweepOffset:
        fillValue(list, QObject::tr("run after delay") + QStringLiteral(":"), float(db->sweepOffset),
                  GetHorizontalScale(static_cast<unsigned short>(db->userTimeBase)), 0.0f,
                  QString::fromLatin1(GetHorizontalUnit()));
        return true;
    case param::offsetCh1:
    case param::offsetCh1 + 1:
    case param::offsetCh1 + 2:
    case param::offsetCh1 + 3: {
        const int ch = code - param::offsetCh1;
        const int16_t offsets[4] = {db->offsetCh1, db->offsetCh2, db->offsetCh3, db->offsetCh4};
        fillLevel(list, QObject::tr("cadrage") + channelSuffix(ch), ch, offsets[ch], SCALE_SCOPE, db);
        return true;
    }
    case param::horizPosition:
        fillValue(list, QObject::tr("position horiz") + QStringLiteral(":"), float(db->horizPosition),
                  10.0f / (db->zoomWidth * 2500.0f), 0.0f, QObject::tr("div"));
        return true;
    case param::trigHoldoff:
        fillValue(list, QObject::tr("holdoff") + QStringLiteral(":"), float(static_cast<uint32_t>(db->trigHoldoff)),
                  8e-9f, 0.0f, QStringLiteral("s"));
        return true;
    case param::fftHorizPosition:
        fillValue(list, QObject::tr("position horiz FFT") + QStringLiteral(":"), float(db->fftHorizPosition),
                  10.0f / (db->fftZoomWidth * 2500.0f), 0.0f, QObject::tr("div"));
        return true;
    case param::displayBrightness:
        fillValue(list, QObject::tr("lumiere") + QStringLiteral(": "),
                  float((int(db->displayBrightness) - 1) * 100 / 8), 1.0f, 0.0f, QStringLiteral("%"));
        return true;
    case param::trigLevelCh1:
    case param::trigLevelCh1 + 1:
    case param::trigLevelCh1 + 2:
    case param::trigLevelCh1 + 3: {
        const int ch = code - param::trigLevelCh1;
        const int16_t levels[4] = {db->trigLevelCh1, db->trigLevelCh2, db->trigLevelCh3, db->trigLevelCh4};
        fillLevel(list, QObject::tr("niveau decl") + channelSuffix(ch), ch, levels[ch], SCALE_SCOPE, db);
        return true;
    }
    case param::fftOffsetCh1:
    case param::fftOffsetCh1 + 1:
    case param::fftOffsetCh1 + 2:
    case param::fftOffsetCh1 + 3: {
        const int ch = code - param::fftOffsetCh1;
        const int16_t offsets[4] = {db->fftOffsetCh1, db->fftOffsetCh2, db->fftOffsetCh3, db->fftOffsetCh4};
        const bool fftFormat = data.traceFormat == 1;
        if (ch == 0) {
            const QString label = QObject::tr("cadrage FFT") + channelSuffix(0, ": ");
            if (fftFormat)
                fillValue(list, label, float(offsets[0]), 0.008f, 0.0f, QStringLiteral("div"));
            else
                fillLevel(list, label, 0, offsets[0], SCALE_FFT, db);
        } else {
            fillLevel(list, QObject::tr("cadrage FFT") + channelSuffix(ch), ch, offsets[ch],
                      fftFormat ? SCALE_FFT_DB : SCALE_FFT, db);
        }
        return true;
    }
    case param::cursor1Time: {
        static const TMeasLabel kTime[] = {{"T1:", 0x860}, {" T2:", 0x870}, {" dT:", 0x850}, {" 1/dT:", 0x880}};
        static const TMeasLabel kXy[] = {{"V1x:", 0x1840}, {" V2x:", 0x1850}, {" dVx:", 0x1830}};
        const unsigned short mask = static_cast<unsigned short>(data.measRefChannel);
        switch (data.traceFormat) {
        case 0: fillReadings(list, mask, kTime, 4); break;
        case 1: fillReadings(list, mask, kTime, 3); break;
        case 2: fillReadings(list, oneBitMask(data.xySourceX), kXy, 3); break;
        default: list->clear(); break;
        }
        return true;
    }
    case param::cursor2Time: {
        static const TMeasLabel kRecorder[] = {{"T1:", 0x8010}, {" T2:", 0x8020}, {" dT:", 0x8000}};
        fillReadings(list, static_cast<unsigned short>(data.measRefChannel), kRecorder, 3);
        return true;
    }
    case param::cursor1Level: {
        static const TMeasLabel kLevel[] = {{"V1:", 0x1810}, {" V2:", 0x1820}, {" dV:", 0x1800}, {" Ph:", 0x890}};
        const unsigned short mask = static_cast<unsigned short>(data.measRefChannel);
        switch (data.traceFormat) {
        case 0: fillReadings(list, mask, kLevel, 4); break;
        case 1: fillReadings(list, mask, kLevel, 3); break;
        case 2: fillReadings(list, oneBitMask(data.xySourceY), kLevel, 3); break;
        default: list->clear(); break;
        }
        return true;
    }
    case param::cursor2Level: {
        static const TMeasLabel kRecorder[] = {{"V1:", 0x9010}, {" V2:", 0x9020}, {" dV:", 0x9000}};
        fillReadings(list, static_cast<unsigned short>(data.measRefChannel), kRecorder, 3);
        return true;
    }
    case param::autosetRequest:
        list->clear();
        return true;
    case param::cursorState:
        if (db->cursorState & 1)
            return false;
        list->clear();
        return true;
    default:
        return false;
    }
}
