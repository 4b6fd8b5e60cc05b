// fetchup: brings a new firmware release onto the instrument (SD card or firmware server),
// verified against its MD5 index, without installing it. Always ends with status 0.
#include "board/board.h"
#include "board/process.h"
#include "board/sim/simboard.h"
#include "fetchup/updater.h"

#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <strings.h>
#include <unistd.h>

#ifndef FETCHUP_SERVER_URL
#define FETCHUP_SERVER_URL "https://firmware.tavlin.invalid"
#endif

namespace {

constexpr const char* kVersion = "1.05";
constexpr long kStartWaitUs = 10000000;
constexpr int kTransferTimeoutMs = 60000;

double g_speed = 1;
std::string g_caFile;

// The simulated board: the root without seeding, its speed and its firmware server.
void prepareSimulatedBoard()
{
    setFirmwareServer(QStringLiteral(FETCHUP_SERVER_URL));
    if (!kSimulatedBoard)
        return;
    simboard::TScenario scenario;
    simboard::prepareCompanionBoard(&scenario);
    simboard::registerBoardProgram("fetchup");
    g_speed = scenario.speedFactor > 0 ? scenario.speedFactor : 1;
    // Only the scenario's local server is reached.
    setFirmwareServer(QString::fromStdString(scenario.firmware.server));
    g_caFile = scenario.firmware.caFile;
}

} // namespace

int main(int argc, char** argv)
{
    if (printVersionOption(argc, argv, kVersion))
        return 0;
    prepareSimulatedBoard();
    ::usleep(static_cast<useconds_t>(kStartWaitUs / g_speed));
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    setTransferTimeoutMs(static_cast<int>(kTransferTimeoutMs / g_speed));
    if (!g_caFile.empty()) {
        // The simulated board's server certificate joins the trusted authorities.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> authorities = tls.caCertificates();
        authorities += QSslCertificate::fromPath(QString::fromStdString(boardPath(g_caFile.c_str())));
        tls.setCaCertificates(authorities);
        QSslConfiguration::setDefaultConfiguration(tls);
    }
    auto* updater = new Updater;  // lives until the process ends
    updater->start();
    app.exec();
    finishProgram();
}
