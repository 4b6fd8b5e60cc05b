// The charging screen's window: the battery gauge from the level file, the plug and the filling
// animation while charging, refreshed every second.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <cstdint>

constexpr const char* kBatLevelFile = "/var/tmp/batlevel";

// What one level shows, decided apart from the pixels.
struct TChargeStep {
    const char* picture;        // resource path of the gauge picture
    int number;                 // the "N %" painted on it; -1 for none
    bool plug;                  // the plug picture is (re)loaded this tick
    int16_t batteryImg;         // the animation state after the tick
    int16_t counterBeforeBlink; // charging ticks still showing the true level
};
// The gauge picture for a level (below 20: battery20 ... 80 and above: battery100).
const char* batteryPicture(int level);
TChargeStep chargeStep(int16_t level, int16_t batteryImg, int16_t counterBeforeBlink);
// The level file's bytes (at most 10 are looked at): the leading decimal number, leading blanks
// and a sign allowed, 0 without digits, truncated to 16 bits.
int16_t parseBatteryLevel(const char* bytes, size_t count);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setBatteryLevel(short level);
    // For tests: the state and what the labels show.
    short batteryImg() const { return s_i_batteryImg; }
    short counterBeforeBlink() const { return s_i_counterBeforeBlink; }
    const QPixmap& gauge() const { return o_i_pixMap; }
    bool plugShown() const;

public slots:
    void timerTick();

private:
    QTimer* po_i_refreshTimer;
    QLabel* po_i_batteryWindow;
    QLabel* po_i_plugWindow;
    QHBoxLayout* po_i_mainLayout;
    QWidget* po_i_mainWidget;
    QPixmap o_i_pixMap;
    QPixmap o_i_plugPixMap;
    short s_i_batteryImg;
    short s_i_counterBeforeBlink;
};

extern MainWindow* po_g_mainWindow;
