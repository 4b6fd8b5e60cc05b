#include "ui/qmltypes.h"

#include "ui/about.h"
#include "ui/automeaschannel.h"
#include "ui/automeastype.h"
#include "ui/dialogpanel.h"
#include "ui/fileload.h"
#include "ui/filesave.h"
#include "ui/gridscreen.h"
#include "ui/harmonicgridscreen.h"
#include "ui/homeview.h"
#include "ui/imagefrompseudofilesystem.h"
#include "ui/keyhelp.h"
#include "ui/indicscreenf.h"
#include "ui/indicscreent.h"
#include "ui/indicscreenxy.h"
#include "ui/messagebox.h"
#include "ui/scopescreen.h"
#include "ui/scopescreencomp.h"
#include "ui/scopestatusline.h"
#include "ui/scopetrigger.h"
#include "ui/scopevertical.h"
#include "ui/scopeview.h"
#include "ui/tool.h"
#include "ui/toolchannel.h"
#include "ui/tooltimebase.h"

#include <QtQml/qqml.h>

namespace {
constexpr const char* kQmlModule = "com.brovak.scope";
} // namespace

// Each type under its name followed by "_" (MessageBox keeps its plain name; IndicScreenF/T/Xy
// become CursorScreenF_/T_/Xy_), in this order. A type is added at its place when it exists.
void registerQmlTypes()
{
    qmlRegisterType<About>(kQmlModule, 1, 0, "About_");
    qmlRegisterType<AutoMeasChannel>(kQmlModule, 1, 0, "AutoMeasChannel_");
    qmlRegisterType<AutomeasType>(kQmlModule, 1, 0, "AutomeasType_");
    // BusAnalysisStatusLine, BusAnalysisView, BusLimits,
    // BusResults, BusSelection
    qmlRegisterType<HarmonicGridScreen>(kQmlModule, 1, 0, "HarmonicGridScreen_");
    qmlRegisterType<IndicScreenF>(kQmlModule, 1, 0, "CursorScreenF_");
    qmlRegisterType<IndicScreenT>(kQmlModule, 1, 0, "CursorScreenT_");
    qmlRegisterType<IndicScreenXy>(kQmlModule, 1, 0, "CursorScreenXy_");
    qmlRegisterType<DialogPanel>(kQmlModule, 1, 0, "DialogPanel_");
    qmlRegisterType<FileLoad>(kQmlModule, 1, 0, "FileLoad_");
    qmlRegisterType<FileSave>(kQmlModule, 1, 0, "FileSave_");
    qmlRegisterType<GridScreen>(kQmlModule, 1, 0, "GridScreen_");
    // HarmonicMeas, HarmonicToolPanel, HarmonicView, HarmonicScreen
    qmlRegisterType<HomeView>(kQmlModule, 1, 0, "HomeView_");
    qmlRegisterType<ImageFromPseudoFileSystem>(kQmlModule, 1, 0, "ImageFromPseudoFileSystem_");
    qmlRegisterType<KeyHelp>(kQmlModule, 1, 0, "KeyHelp_");
    // LoggerChannel, LoggerPanel, LoggerScreen,
    // LoggerScreenComp, LoggerStatusLine, LoggerView
    qmlRegisterType<MessageBox>(kQmlModule, 1, 0, "MessageBox");
    // MeterChannel, MeterMeasurement,
    // MeterPanel, MeterStatusLine, MeterToolPanel, MeterView, PassFail, PowerChannel,
    // KalvexOverview, ScopeHorizontal
    qmlRegisterType<ScopeScreen>(kQmlModule, 1, 0, "ScopeScreen_");
    qmlRegisterType<ScopeScreenComp>(kQmlModule, 1, 0, "ScopeScreenComp_");
    qmlRegisterType<ScopeStatusLine>(kQmlModule, 1, 0, "ScopeStatusLine_");
    qmlRegisterType<ScopeTrigger>(kQmlModule, 1, 0, "ScopeTrigger_");
    qmlRegisterType<ScopeVertical>(kQmlModule, 1, 0, "ScopeVertical_");
    // ScopeMath
    qmlRegisterType<ScopeView>(kQmlModule, 1, 0, "ScopeView_");
    qmlRegisterType<Tool>(kQmlModule, 1, 0, "Tool_");
    qmlRegisterType<ToolChannel>(kQmlModule, 1, 0, "ToolChannel_");
    // ToolPower
    qmlRegisterType<ToolTimebase>(kQmlModule, 1, 0, "ToolTimebase_");
    // ViewerEventFilter, ViewerEventList, ViewerPanel,
    // ViewerScreen, ViewerScreenComp, ViewerStatusLine, ViewerView
}
