#include "ui/viewer/viewerstatusline.h"

#include "core/filehdr.h"
#include "core/gest_db.h"
#include "core/setupparam.h"
#include "network/user_int.h"
#include "ui/traces/automeaschannel.h"

#include <QDateTime>
#include <QFile>

#include <cmath>
#include <limits>

namespace {

constexpr int kCursor2Level = 89;
// The recorder time of cursor 1, in seconds from the recording's start.
constexpr unsigned short kCursor1RecorderTime = 0x8030;
constexpr int kDateLength = 19;

} // namespace

ViewerStatusLine::ViewerStatusLine(QQuickItem* parent) : LoggerStatusLine(parent) {}

ViewerStatusLine::~ViewerStatusLine() = default;

void ViewerStatusLine::readStartTime()
{
    TFileHeader header;
    // The name is relative to the current directory, which the file selection and the recall set.
    if (fileText_.isEmpty() || ReadFileHeader(QFile::encodeName(fileText_).toStdString(), header) != 0)
        return;
    const QDateTime start = QDateTime::fromString(QString::fromLatin1(header.dateText, kDateLength),
                                                  QStringLiteral("yyyy-MM-dd_hh-mm-ss"));
    if (!start.isValid())
        return;
    const qint64 seconds = start.toSecsSinceEpoch();
    if (seconds < 0 || seconds > std::numeric_limits<uint32_t>::max())
        return;
    startTime_ = static_cast<uint32_t>(seconds);
}

void ViewerStatusLine::screenMajSlot(int parameter)
{
    if (parameter == 0 || parameter == param::channelFlags || parameter == param::spareWord29) {
        fileText_ = loggerFileNameText();
        readStartTime();
    }
    showSettingOrCursors(parameter);
    update();
    setPelanodeLoggerStatus(fileText_);
}

void ViewerStatusLine::fillCursorLists()
{
    if ((data.cursorState & 1) == 0) {
        misc1_.clear();
        misc2_.clear();
        return;
    }
    float value = 0.0f;
    AutoMeasChannel::getMeasurement(static_cast<unsigned short>(data.measRefChannel), kCursor1RecorderTime, nullptr,
                                    &value);
    // Whole seconds, truncated; a value no cursor position can give adds nothing.
    const double offset = std::isfinite(value) && std::fabs(value) < 4.0e9f ? std::trunc(double(value)) : 0.0;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(startTime_) + static_cast<qint64>(offset));
    misc1_ = QStringList{QStringLiteral("T1:"), at.toString(QStringLiteral("yyyy-MM-dd:hh-mm-ss"))};
    getSetupParam(&data, kCursor2Level, &misc2_);
}

void ViewerStatusLine::displayCursorValueSlot()
{
    fillCursorLists();
    update();
    setPelanodeMisc(misc1_, misc2_);
}

void ViewerStatusLine::fugitiveDisplayEndSlot()
{
    fillCursorLists();
    update();
}
