// cellwarden: the battery daemon. Finds the pack's fuel gauge on the HDQ bus, keeps the charge
// level published, switches the charger with wall power and cuts the power at power-off.
#include "board/board.h"
#include "board/process.h"
#include "board/sim/simboard.h"
#include "cellwarden/battery_bq2018.h"
#include "cellwarden/battery_bq34z100.h"
#include "cellwarden/hdq.h"
#include "cellwarden/no_battery.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>

namespace {

constexpr const char* kVersion = "1.07";
constexpr const char* kHdqDevice = "/dev/ttymxc2";

void prepareSimulatedBoard()
{
    if (!kSimulatedBoard)
        return;
    // The scenario only: the daemon never builds the instrument's board model.
    simboard::TScenario scenario;
    simboard::prepareCompanionBoard(&scenario);
    simboard::registerBoardProgram("cellwarden");
    setCellwardenSpeed(scenario.speedFactor);
    ::mkdir(boardPath("/var").c_str(), 0755);
    ::mkdir(boardPath("/var/tmp").c_str(), 0755);
    ::mkdir(boardPath("/media").c_str(), 0755);
    ::mkdir(boardPath("/media/private").c_str(), 0755);
}

} // namespace

int main(int argc, char** argv)
{
    if (printVersionOption(argc, argv, kVersion))
        return 0;
    prepareSimulatedBoard();
    HDQ::Initialize(kHdqDevice);
    for (;;) {
        HDQ::WriteWordRegister(0, 1);
        const unsigned short probe = HDQ::ReadWordRegister(0);
        Battery* battery;
        if (probe == 0x0001)
            battery = new BatteryBQ2018;
        else if (probe == 0x0100)
            battery = new BatteryBQ34Z100;
        else
            battery = new NoBattery;
        // Only the gauge-less variant comes back: probe again, a pack may have been fitted.
        delete battery;
    }
}
