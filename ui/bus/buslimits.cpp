#include "ui/bus/buslimits.h"

#include "busanalysis/buspseudofile.h"
#include "core/gest_db.h"
#include "core/requests.h"
#include "core/scopeprintf.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/frame/filesave.h"
#include "ui/frame/homeview.h"
#include "ui/frame/menurequest.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <limits>
#include <locale>
#include <sstream>
#include <strings.h>

namespace {

constexpr int kBufferSize = 100;
constexpr int32_t kScreenMessage = 2;
// The controller reads them after the posts; message and selection each have their own, so
// the message never shows the selection's '*'.
char s_message[kBufferSize];
char s_selection[kBufferSize];

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Calls f(child) for each MESURE child of the groups MESURE0, MESURE1 ... in document order.
template <typename F>
void forEachMeasure(XmlDescriptor& tree, F f)
{
    for (int n = 0;; ++n) {
        const std::string group = "MESURE" + std::to_string(n);
        XmlFifo path;
        path.initFifo(2, "FILEBUS", group.c_str());
        XmlDescriptor* node = tree.getTag(&path);
        if (!node)
            return;
        for (XmlDescriptor* child : node->children) {
            if (!child)
                break;
            if (strcasecmp(child->tag, "MESURE") == 0)
                f(*child);
        }
    }
}

std::string childAttribute(XmlDescriptor& measure, const char* tag, const char* attribute)
{
    XmlFifo path;
    path.initFifo(2, "MESURE", tag);
    return measure.getAttributeValue(attribute, &path);
}

float limitOf(XmlDescriptor& measure, const char* tag)
{
    bool ok = false;
    const float v = QString::fromStdString(childAttribute(measure, tag, "a")).toFloat(&ok);
    return ok ? v : kNaN;
}

// Six significant digits in the classic locale ("%g"), "nan" for NaN.
std::string limitText(float value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << static_cast<double>(value);
    return out.str();
}

void showBadName(const QString& name)
{
    if (po_g_homeView)
        emit po_g_homeView->screenMessageSignal(BusLimits::kMessageBadName, name);
}

} // namespace

BusLimits::BusLimits(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    connect(this, &QQuickItem::enabledChanged, this, &BusLimits::enabledChangedSlot);
}

BusLimits::~BusLimits()
{
    disconnect(this, &QQuickItem::enabledChanged, this, &BusLimits::enabledChangedSlot);
}

const char* BusLimits::messageBuffer() { return s_message; }
const char* BusLimits::selectionBuffer() { return s_selection; }

void BusLimits::enabledChangedSlot()
{
    if (isEnabled()) {
        fileRead();
        setDefaultFilename();
        modified_ = false;
    } else if (modified_ && !isEnabled()) {
        modified_ = false;
        fileWrite();
    }
}

void BusLimits::fileRead()
{
    const QString name = BusAnalysisStatusLine::busFileNameOf(data);
    descriptor_.clear();
    if (name.endsWith(QLatin1Char('*'))) {
        const QString file = name.left(name.size() - 1);
        if (isAcceptableFileName(file))
            descriptor_.fileRead((kUserFolder + file.toStdString()).c_str(), true);
    } else if (const TBusPseudoFile* row = findBusPseudoFileBySuffix(name.toUtf8().constData())) {
        descriptor_.fileRead(row->name, false);
    }
    scanXmlDescriptor();
    emit fileContentChanged();
    setFlag(ItemHasContents);
    update();
}

void BusLimits::scanXmlDescriptor()
{
    limits_.clear();
    title_.clear();
    if (!descriptor_.valid)
        return;
    XmlFifo path;
    path.initFifo(3, "FILEBUS", "BUS", "TITLE");
    title_ = QString::fromUtf8(XmlDescriptor::xmlToText(descriptor_.getAttributeValue("a", &path)).c_str());
    title_.replace(QLatin1Char('\n'), QLatin1Char('\t'));

    forEachMeasure(descriptor_, [this](XmlDescriptor& m) {
        TMeasurementSpecs spec{childAttribute(m, "NAMEMESURE", "a"), childAttribute(m, "NAMEMESURE", "unit"), 0, 0, 0};
        if (!spec.name.empty()) {
            spec.minimum = limitOf(m, "LIMITEMIN");
            spec.maximum = limitOf(m, "LIMITEMAX");
            spec.warning = limitOf(m, "WARNING");
        }
        limits_.append(spec);
    });
}

int BusLimits::getClickedItem(int x, int y) const
{
    if (x < 0 || y < 0)
        return -1;
    const int entry = x / kEntryWidth + (y / kRowHeight) * 2;
    const int within = x % kEntryWidth;
    if (entry >= limits_.size() || within < kNameWidth)
        return -1;
    const int column = within < 190 ? 0 : within < 250 ? 1 : 2;
    return entry * 10 + column;
}

double BusLimits::getValue(int index) const
{
    if (index < 0 || index / 10 >= limits_.size())
        return std::numeric_limits<double>::quiet_NaN();
    const TMeasurementSpecs& s = limits_[index / 10];
    switch (index % 10) {
    case 0: return s.minimum;
    case 1: return s.maximum;
    case 2: return s.warning;
    default: return std::numeric_limits<double>::quiet_NaN();
    }
}

void BusLimits::setValue(int index, double value)
{
    if (index < 0 || index / 10 >= limits_.size())
        return;
    TMeasurementSpecs& s = limits_[index / 10];
    const float v = static_cast<float>(value);
    switch (index % 10) {
    case 0: s.minimum = v; break;
    case 1: s.maximum = v; break;
    case 2: s.warning = v; break;
    default: break;
    }
    update();
    modified_ = true;
}

void BusLimits::updateXmlDescriptor()
{
    int i = 0;
    forEachMeasure(descriptor_, [this, &i](XmlDescriptor& m) {
        if (i < limits_.size()) {
            const TMeasurementSpecs& s = limits_[i];
            const struct {
                const char* tag;
                float value;
            } fields[] = {{"LIMITEMIN", s.minimum}, {"LIMITEMAX", s.maximum}, {"WARNING", s.warning}};
            for (const auto& f : fields) {
                XmlFifo path;
                path.initFifo(2, "MESURE", f.tag);
                m.setAttributeValue("a", limitText(f.value), &path);
            }
        }
        ++i;
    });
}

void BusLimits::fileWrite()
{
    const QString name = filename_ + QStringLiteral(".bus");
    // Outside the user folder, or too long for busFileName with its '*': another file would be
    // written or loaded.
    if (!isAcceptableFileName(filename_) || name.toUtf8().size() + 1 > kMaxSelectionBytes) {
        showBadName(filename_);
        return;
    }
    copyUtf8Cut(name, s_message, kBufferSize);
    updateXmlDescriptor();
    if (!descriptor_.fileWrite(s_message)) {
        pipe_dial failed{REQ_SCREEN, kScreenMessage, reinterpret_cast<intptr_t>(s_message), kMessageNotSaved, 0.0f,
                         senderValue(MENU_id)};
        o_g_consMessageBox.send(&failed);
        return;
    }
    pipe_dial saved{REQ_SCREEN, kScreenMessage, reinterpret_cast<intptr_t>(s_message), kMessageSaved, 0.0f,
                    senderValue(MENU_id)};
    o_g_consMessageBox.send(&saved);
    copyUtf8Cut(name + QLatin1Char('*'), s_selection, kBufferSize);
    postMenuRequest(param::busFileName, reinterpret_cast<intptr_t>(s_selection), -1);
}

void BusLimits::setDefaultFilename()
{
    filename_ = FileSave::defaultFilename(QDateTime::currentDateTime());
    emit filenameChanged();
}

void BusLimits::paint(QPainter* painter)
{
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::black);
    QFont bold = painter->font();
    bold.setWeight(75);
    QFont normal = bold;
    normal.setWeight(50);
    const QFontMetrics boldMetrics(bold, painter->device());

    int baseline = kRowHeight;
    for (int i = 0; i < limits_.size(); ++i) {
        const TMeasurementSpecs& s = limits_[i];
        const int origin = (i % 2) * kEntryWidth;
        const QString name = QString::fromUtf8(s.name.c_str());
        const QString unit = QString::fromUtf8(s.unit.c_str());
        painter->setFont(bold);
        painter->drawText(origin + (kNameWidth - boldMetrics.horizontalAdvance(name)) / 2, baseline, name);
        painter->setFont(normal);
        const auto value = [](float v) { return std::isnan(v) ? QStringLiteral("--- ") : ScopePrintf(2, v); };
        painter->drawText(origin + 130, baseline, value(s.minimum) + unit);
        painter->drawText(origin + 190, baseline, value(s.maximum) + unit);
        painter->drawText(origin + 250, baseline, value(s.warning) + QStringLiteral(" %"));
        if (i % 2 == 1)
            baseline += kRowHeight;
    }
}
