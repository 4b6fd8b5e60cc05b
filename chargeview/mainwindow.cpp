#include "chargeview/mainwindow.h"

#include "board/deviceio.h"

#include <QPainter>

#include <fcntl.h>
#include <unistd.h>

MainWindow* po_g_mainWindow = nullptr;

// The pictures are linked from a static library: their registration must be referenced.
static void initPictures() { Q_INIT_RESOURCE(chargeview); }

const char* batteryPicture(int level)
{
    if (level < 20)
        return ":/Images/battery20.png";
    if (level < 40)
        return ":/Images/battery40.png";
    if (level < 60)
        return ":/Images/battery60.png";
    if (level < 80)
        return ":/Images/battery80.png";
    return ":/Images/battery100.png";
}

TChargeStep chargeStep(int16_t level, int16_t batteryImg, int16_t counterBeforeBlink)
{
    TChargeStep step{nullptr, -1, false, batteryImg, 0};
    const int magnitude = level < 0 ? -static_cast<int>(level) : level;
    if (level == 0) {
        step.picture = ":/Images/batteryWait.png";
        return step;
    }
    if (level < 0) {
        step.counterBeforeBlink = static_cast<int16_t>(counterBeforeBlink > 0 ? counterBeforeBlink - 1 : 0);
        step.plug = true;
        if (step.counterBeforeBlink > 0 || batteryImg > 80)
            step.batteryImg = static_cast<int16_t>(magnitude);
        else
            step.batteryImg = static_cast<int16_t>(batteryImg + 20);
        step.picture = batteryPicture(step.batteryImg);
    } else {
        step.picture = batteryPicture(level);
    }
    if (magnitude >= 2)
        step.number = magnitude;
    return step;
}

int16_t parseBatteryLevel(const char* bytes, size_t count)
{
    if (count > 10)
        count = 10;
    size_t i = 0;
    while (i < count && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\n' || bytes[i] == '\r' ||
                         bytes[i] == '\v' || bytes[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < count && (bytes[i] == '+' || bytes[i] == '-'))
        negative = bytes[i++] == '-';
    long long value = 0;
    for (; i < count && bytes[i] >= '0' && bytes[i] <= '9'; ++i)
        value = value * 10 + (bytes[i] - '0');  // at most 10 digits: no overflow
    if (negative)
        value = -value;
    return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      po_i_refreshTimer(new QTimer),
      po_i_batteryWindow(new QLabel),
      po_i_plugWindow(new QLabel),
      po_i_mainLayout(new QHBoxLayout),
      po_i_mainWidget(new QWidget),
      s_i_batteryImg(0),
      s_i_counterBeforeBlink(10)
{
    initPictures();
    po_i_refreshTimer->setInterval(1000);
    connect(po_i_refreshTimer, &QTimer::timeout, this, &MainWindow::timerTick);
    po_i_mainLayout->addStretch();
    po_i_mainLayout->addWidget(po_i_plugWindow);
    po_i_mainLayout->addWidget(po_i_batteryWindow);
    po_i_mainLayout->addStretch();
    po_i_mainWidget->setLayout(po_i_mainLayout);
    setCentralWidget(po_i_mainWidget);
    po_i_refreshTimer->start();
    timerTick();
}

MainWindow::~MainWindow()
{
    po_i_refreshTimer->stop();
    // The central widget owns the layout and both labels.
    takeCentralWidget();
    delete po_i_mainWidget;
    delete po_i_refreshTimer;
}

bool MainWindow::plugShown() const
{
    return !po_i_plugWindow->pixmap(Qt::ReturnByValue).isNull();
}

void MainWindow::timerTick()
{
    const int fd = deviceIO().open(kBatLevelFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setBatteryLevel(0);
        return;
    }
    char bytes[10];
    const ssize_t n = deviceIO().read(fd, bytes, sizeof bytes);
    deviceIO().close(fd);
    setBatteryLevel(n > 0 ? parseBatteryLevel(bytes, static_cast<size_t>(n)) : 0);
}

void MainWindow::setBatteryLevel(short level)
{
    const TChargeStep step = chargeStep(level, s_i_batteryImg, s_i_counterBeforeBlink);
    s_i_counterBeforeBlink = step.counterBeforeBlink;
    s_i_batteryImg = step.batteryImg;
    if (level == 0) {
        po_i_batteryWindow->setPixmap(
            QPixmap(step.picture).scaled(400, 75, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        return;
    }
    if (step.plug) {
        o_i_plugPixMap.load(":/Images/plug128.png");
        po_i_plugWindow->setPixmap(o_i_plugPixMap);
    }
    o_i_pixMap.load(step.picture);
    o_i_pixMap = o_i_pixMap.scaled(400, 75, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (step.number >= 0) {
        QPainter painter(&o_i_pixMap);
        painter.drawText(QPoint(170, 45), QString::number(step.number) + " %");
    }
    po_i_batteryWindow->setPixmap(o_i_pixMap);
}
