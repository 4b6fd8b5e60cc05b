// benchview: starts the controller thread, builds the Qt Quick user interface and runs the GUI
// event loop in the main thread.
#include "board/board.h"
#include "board/ports.h"
#include "board/sim/simboard.h"
#include "board/systools.h"
#include "core/calibfile.h"
#include "core/command.h"
#include "core/process.h"
#include "core/requests.h"
#include "core/root.h"
#include "network/ScopeAdmin.h"
#include "network/pelanodeInterface.h"
#include "network/serverHTTP.h"
#include "network/webServerFs.h"
#include "scpi/io.h"
#include "ui/frame/homeview.h"
#include "ui/qmltypes.h"

#include <QFont>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTextCodec>
#include <QTimer>
#include <QUrl>

#include <clocale>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void makeBatchDirectory()
{
    std::string batch = boardPath("/media/private/batch");
    struct stat st;
    if (stat(batch.c_str(), &st) != 0)
        mkdir(batch.c_str(), 0777);
}

// The idle time counts from the program's start until the first user request marks the file;
// an existing mark is left as it is (opening it read-only does not touch its time).
void makeActivityMark()
{
    int fd = open(boardPath(kActivityMarkFile).c_str(), O_CREAT | O_RDONLY, 0666);
    if (fd >= 0)
        close(fd);
}

void loadRootWindow()
{
    // Both live for the whole run.
    auto* engine = new QQmlEngine();
    auto* component = new QQmlComponent(engine, QUrl(QStringLiteral("qrc:/HomeView.qml")));
    QObject* root = component->create();
    auto* view = qobject_cast<HomeView*>(root);
    if (!view)
        return;  // the controller keeps waiting for the window
    po_g_homeView = view;
    po_g_homeBridge.store(view, std::memory_order_release);
    emit view->complete();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcasecmp(argv[1], "-V") == 0) {
        std::printf("1.12\n");
        return 0;
    }
    // A port pushed past the last one would wrap onto a port nobody asked for.
    std::string portProblem;
    if (!servedPortsInRange({kScpiPort, kHttpPort, kAdminPort, kWsPort}, &portProblem)) {
        std::fprintf(stderr, "benchview: %s\n", portProblem.c_str());
        return 1;
    }
    if (!resolveBoardRoot()) {
        std::fprintf(stderr, "benchview: cannot create the simulated-board root\n");
        return 1;
    }
    registerCalibrationSeed();
    registerWebPictureSeed();
    if (kSimulatedBoard)
        simboard::registerScenarioSeed();
    seedBoardRoot();
    if (kSimulatedBoard)
        simboard::registerBoardProgram("benchview");
    if (kSimulatedBoard) {
        // The About screen asks the programs in /opt for their versions: ours, from this build.
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            std::string dir(exe, static_cast<size_t>(n));
            if (!writeSimulatedPrograms(dir.substr(0, dir.rfind('/'))))
                std::fprintf(stderr, "benchview: simulated board: cannot write the programs of /opt\n");
        }
    }
    // The simulated board answers every device access from here on, before any thread starts.
    if (kSimulatedBoard) {
        std::string why;
        if (!simboard::install(&why))
            std::fprintf(stderr, "benchview: simulated board: %s\n", why.c_str());
        if (!simboard::startControlPipe(&why))
            std::fprintf(stderr, "benchview: simulated board: %s\n", why.c_str());
    }

    makeBatchDirectory();

    startThread(&COMM_id, command, nullptr, 65, false, "COMM");

    registerQmlTypes();
    Q_INIT_RESOURCE(ui);

    chooseQuickBackend();
    po_g_application = new QGuiApplication(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    installTranslator();
    TRootConfig config = readRootConfig();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QGuiApplication::setFont(QFont(applicationFontFamily(config.language), kApplicationFontPointSize));

    loadRootWindow();

    makeActivityMark();

    autoOffTimeout = config.autoOff;
    screenSaverTimeout = config.screenSaver;
    autoOffTimer = new QTimer();
    QObject::connect(autoOffTimer, &QTimer::timeout, autoOffCallback);
    autoOffTimer->start(kAutoOffIntervalMs);

    po_g_application->exec();
    // Not a return from main: static destructors must not run under the detached threads.
    endProcess(0);
}
