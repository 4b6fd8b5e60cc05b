// The battery daemon's skeleton: board lines, shared files, the event loop and the halt.
#pragma once

#include <QString>

constexpr const char* kBatLevelFile = "/var/tmp/batlevel";
constexpr const char* kOffPipeFile = "/var/tmp/offpipe";
constexpr const char* kPowerOffAllowedFile = "/var/tmp/powerOffAllowed";
constexpr const char* kWallPowerValue = "/sys/class/gpio/gpio114/value";
constexpr const char* kWallPowerEdge = "/sys/class/gpio/gpio114/edge";
constexpr const char* kHaltValue = "/sys/class/gpio/gpio121/value";
constexpr const char* kChargeValue = "/sys/class/gpio/gpio127/value";
constexpr const char* kBatteryLog = "/media/private/batteryLog.txt";
constexpr int kPassTimeoutMs = 60000;
constexpr int kEdgeSettleMs = 1000;
constexpr int kChargerSettleMs = 2000;

// Simulated-board time runs this many times faster (the scenario's speed factor; 1 on the board).
double cellwardenSpeed();
void setCellwardenSpeed(double factor);
// Sleeps the given simulated-board milliseconds.
void cellwardenSleepMs(int ms);
// Simulated-board seconds since an arbitrary start.
double cellwardenClockSeconds();

// True when the bytes drained from the off pipe are one or more exact "POWEROFF".
bool isPowerOffMessage(const char* bytes, size_t count);

class Battery {
public:
    Battery();
    virtual ~Battery();
    virtual void ManageEvents() = 0;
    virtual void saveBatteryLevel() = 0;

    // Unreadable: the last known state (no wall power before the first reading).
    static bool IsWallAlimConnected();
    static void SetBatteryCharge(bool charge);
    static void LogWrite(QString o_a_str);
    // True when the charging screen's marker can be opened and is not older than this boot.
    static bool PowerOffAllowed();
    [[noreturn]] void SystemHalt();

protected:
    // The loop passes (endless when passes < 0) with the variant's actions.
    void RunPasses(int passes);
    virtual void EdgeAction() {}
    virtual bool FullTest() { return false; }
    virtual void PeriodicAction() {}

private:
    // The wall-power level the loop last saw settled (-1: none yet). Reading the value arms the
    // next edge and swallows any edge before it, so an unplug between two passes shows only as a
    // level other than this one: it is acted on as the edge it was.
    int settledWallPower_ = -1;
};

// The file write shared by the variants; created files get mode 0644.
void writeDaemonFile(const char* path, const char* bytes, size_t count, bool truncate);
