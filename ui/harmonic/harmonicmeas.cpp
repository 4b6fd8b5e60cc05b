#include "ui/harmonic/harmonicmeas.h"

#include "acquisition/TAcquisition.h"
#include "board/board.h"
#include "core/filehdr.h"
#include "core/gest_db.h"
#include "core/scale.h"
#include "core/scopeprintf.h"
#include "ui/frame/homeview.h"
#include "ui/frame/menurequest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kExportPath[] = "/media/private/harmonic.txt";
// Written whole, then renamed over the export: a reader sees one complete export or the next.
constexpr char kWorkingPath[] = "/media/private/harmonic.tmp";
constexpr char kTitle[] = "\r\nHarmonic analysis\r\n\r\n";
constexpr const char* kBlockNames[5] = {"CH1", "CH2", "CH3", "CH4", "Power"};

// Fixed notation rounded as printf rounds, '.' whatever the locale; "----" for a value that is
// not a number.
QString fixed(float v, int decimals)
{
    if (!std::isfinite(v))
        return QStringLiteral("----");
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, double(v), std::chars_format::fixed, decimals);
    if (end.ec != std::errc())
        return QStringLiteral("----");
    // A small negative value rounded to zero reads 0, not "-0".
    const char* first = text;
    if (*first == '-' && std::all_of(text + 1, end.ptr, [](char c) { return c == '0' || c == '.'; }))
        ++first;
    return QString::fromLatin1(first, int(end.ptr - first));
}

QString colourOf(int index)
{
    switch (index) {
    case 1: return QStringLiteral("#7F7FFF");
    case 2: return QStringLiteral("#7FFF7F");
    case 5: return QStringLiteral("#FF7FFF");
    default: return QStringLiteral("#FF7F7F");
    }
}

TAcquisition* traceOf(int row)
{
    const TSetupLinks& l = setupLinks();
    TAcquisition* const traces[5] = {l.acqCh1, l.acqCh2, l.acqCh3, l.acqCh4, l.powerAcq};
    return traces[row];
}

bool writeWhole(int fd, const QByteArray& bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

} // namespace

HarmonicMeas::HarmonicMeas(QQuickItem* parent) : QQuickItem(parent)
{
    harmonicOrder_ = data.harmOrder;
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::displayKalvexSignal, this, &HarmonicMeas::displayKalvexSlot);
        connections_[1] = connect(home, &HomeView::screenMajSignal, this, &HarmonicMeas::screenMajSlot);
        connections_[2] = connect(home, &HomeView::screenRefreshSignal, this, &HarmonicMeas::screenRefreshSlot);
    }
    displayKalvexSlot();
    // The export exists as soon as the view opens: a save right away finds it.
    screenRefreshSlot();
}

HarmonicMeas::~HarmonicMeas()
{
    for (auto& c : connections_)
        disconnect(c);
    measurementList_.clear();
}

void HarmonicMeas::displayKalvexSlot()
{
    colorCh1_ = QColor(colourOf(data.traceColorCh1));
    emit colorCh1Changed();
    colorCh2_ = QColor(colourOf(data.traceColorCh2));
    emit colorCh2Changed();
    colorCh3_ = QColor(colourOf(data.traceColorCh3));
    emit colorCh3Changed();
    colorCh4_ = QColor(colourOf(data.traceColorCh4));
    emit colorCh4Changed();
}

void HarmonicMeas::screenMajSlot(int code)
{
    if (code != 0 && code != param::harmOrder)
        return;
    harmonicOrder_ = data.harmOrder;
    emit harmonicOrderChanged();
}

void HarmonicMeas::setHarmonicOrder(short const& order)
{
    // The controller's notice brings the confirmed order back.
    harmonicOrder_ = order;
    postMenuRequest(param::harmOrder, order);
}

QStringList HarmonicMeas::rowTexts(const Snapshot& s, int order, bool power)
{
    const QString labels[5] = {tr("Vrms="), tr("THD="), tr("ratio="), tr("Ph="), tr("F=")};
    QStringList texts;
    const THarmonicResults& r = s.record;
    QString unit = s.unit;
    unit.replace(QLatin1Char('{'), QChar(0x03A9));
    if (r.status == HARMONIC_MEASURED) {
        texts << labels[0] + ScopePrintf(3, double(r.rms * s.scale)) + unit
              << labels[1] + fixed(r.distortion * 100.0f, 1) + QStringLiteral(" %");
        // An order the record has no entry for (a recalled or directly written setup).
        if (order < 0 || order >= kHarmonicOrders) {
            for (int i = 2; i < 5; ++i)
                texts << labels[i] + QStringLiteral("----");
            texts << QStringLiteral("----");
        } else {
            const THarmonicEntry& e = r.entries[order];
            // No period (order 0, or no period found on a DC input): no frequency to show.
            const QString frequency = (e.period == 0.0f || !std::isfinite(e.period))
                ? QStringLiteral("----")
                : ScopePrintf(2, double(1.0f / e.period)) + QStringLiteral("Hz");
            texts << labels[2] + fixed(e.ratio * 100.0f, 1) + QStringLiteral(" %")
                  << labels[3] + fixed(e.phase, 0) + QStringLiteral(" ") + QChar(0x00B0)
                  << labels[4] + frequency
                  << ScopePrintf(3, double(e.amplitude * s.scale)) + unit;
        }
    } else {
        const QString mark = r.status == HARMONIC_OVERRANGE ? QStringLiteral("-OL-") : QStringLiteral("----");
        for (const QString& label : labels)
            texts << label + mark;
        texts << mark;
    }
    if (power) {
        texts[0].clear();
        texts[1].clear();
        texts[5].clear();
    }
    return texts;
}

QByteArray HarmonicMeas::blockText(const char* name, const Snapshot& s)
{
    const THarmonicResults& r = s.record;
    const QByteArray unit = s.unit.toUtf8();
    QByteArray out;
    out.reserve(4096);
    out += name;
    out += "\r\n";
    out += "Vrms(" + unit + "),THD(%),Freq(Hz)\n";
    const char* mark = r.status == HARMONIC_OVERRANGE ? "-OL-" : "----";
    if (r.status == HARMONIC_MEASURED) {
        const float period = r.entries[1].period;
        out += fixed(r.rms * s.scale, 6).toLatin1() + ',' + fixed(r.distortion * 100.0f, 1).toLatin1() + ','
            + (period == 0.0f ? QByteArray("0") : fixed(1.0f / period, 6).toLatin1());
    } else {
        out += QByteArray(mark) + ',' + mark + ',' + mark;
    }
    out += "\r\n-,F";
    for (int n = 2; n < kHarmonicOrders; ++n)
        out += ",H" + QByteArray::number(n);
    out += "\r\n";
    const auto fields = [&](const char* head, auto value) {
        out += head;
        for (int n = 1; n < kHarmonicOrders; ++n) {
            out += ',';
            out += r.status == HARMONIC_MEASURED ? value(r.entries[n]).toLatin1() : QByteArray(mark);
        }
        out += "\r\n";
    };
    fields("Ratio(%)", [](const THarmonicEntry& e) { return fixed(e.ratio * 100.0f, 1); });
    // Degrees, under the label the files have always had.
    fields("Phase(%)", [](const THarmonicEntry& e) { return fixed(e.phase, 6); });
    fields(("Vrms(" + unit + ")").constData(),
           [&s](const THarmonicEntry& e) { return fixed(e.amplitude * s.scale, 6); });
    return out;
}

int HarmonicMeas::openFile()
{
    const std::string path = boardPath(kWorkingPath);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0777);
    if (fd < 0)
        return -1;
    if (WriteFileHeader(fd, kFileTypeText, "", -1) != 0 ||
        ::write(fd, kTitle, sizeof kTitle - 1) != ssize_t(sizeof kTitle - 1)) {
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

void HarmonicMeas::writeExport(const Snapshot (&records)[5])
{
    const std::string working = boardPath(kWorkingPath);
    const std::string target = boardPath(kExportPath);
    const int fd = openFile();
    bool whole = fd >= 0;
    for (int i = 0; whole && i < 5; ++i)
        whole = writeWhole(fd, blockText(kBlockNames[i], records[i]));
    if (fd >= 0 && ::close(fd) != 0)
        whole = false;
    if (whole && ::rename(working.c_str(), target.c_str()) == 0)
        return;
    // No export rather than a stale or partial one: a save then says there are no results.
    ::unlink(working.c_str());
    ::unlink(target.c_str());
}

void HarmonicMeas::takeSnapshot(Snapshot (&copy)[5])
{
    pthread_mutex_lock(&o_g_autoMeasMutex);
    const THarmonicResults* block = setupLinks().harmonicResultsPtr;
    for (int i = 0; i < 5; ++i) {
        TAcquisition* t = traceOf(i);
        if (block && t) {
            copy[i].record = block[i];
            copy[i].scale = GetVerticalScale(t, SCALE_SCOPE, -1);
            copy[i].unit = GetVerticalUnit(t, SCALE_SCOPE, true);
        } else {
            std::memset(&copy[i].record, 0, sizeof copy[i].record);
            copy[i].record.status = HARMONIC_NOT_MEASURED;
            copy[i].scale = 1.0f;
            copy[i].unit = QStringLiteral("V");
        }
    }
    pthread_mutex_unlock(&o_g_autoMeasMutex);
}

void HarmonicMeas::screenRefreshSlot()
{
    Snapshot copy[5];
    takeSnapshot(copy);
    const bool power = data.harmPower != 0;
    measurementList_.clear();
    for (int i = 0; i < (power ? 5 : 4); ++i)
        measurementList_.append(QVariant(rowTexts(copy[i], harmonicOrder_, i == kHarmonicPowerRecord)));
    writeExport(copy);
    emit measurementListChanged();
}
