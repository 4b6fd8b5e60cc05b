#include "ui/qmltypes.h"

#include "ui/frame/about.h"
#include "ui/traces/automeaschannel.h"
#include "ui/scope/automeastype.h"
#include "ui/bus/busanalysisstatusline.h"
#include "ui/bus/busanalysisview.h"
#include "ui/bus/buslimits.h"
#include "ui/bus/busresults.h"
#include "ui/bus/busselection.h"
#include "ui/frame/dialogpanel.h"
#include "ui/frame/fileload.h"
#include "ui/frame/filesave.h"
#include "ui/traces/gridscreen.h"
#include "ui/harmonic/harmonicgridscreen.h"
#include "ui/harmonic/harmonicmeas.h"
#include "ui/harmonic/harmonicscreen.h"
#include "ui/harmonic/harmonictoolpanel.h"
#include "ui/harmonic/harmonicview.h"
#include "ui/frame/homeview.h"
#include "ui/frame/imagefrompseudofilesystem.h"
#include "ui/scope/kalvexoverview.h"
#include "ui/frame/keyhelp.h"
#include "ui/traces/loggerchannel.h"
#include "ui/traces/loggerpanel.h"
#include "ui/traces/loggerscreen.h"
#include "ui/recorder/loggerscreencomp.h"
#include "ui/traces/loggerstatusline.h"
#include "ui/recorder/loggerview.h"
#include "ui/traces/indicscreenf.h"
#include "ui/traces/indicscreent.h"
#include "ui/traces/indicscreenxy.h"
#include "ui/frame/messagebox.h"
#include "ui/frame/meterchannel.h"
#include "ui/frame/metermeasurement.h"
#include "ui/meter/meterpanel.h"
#include "ui/meter/meterstatusline.h"
#include "ui/meter/metertoolpanel.h"
#include "ui/meter/meterview.h"
#include "ui/scope/passfail.h"
#include "ui/frame/powerchannel.h"
#include "ui/scope/scopehorizontal.h"
#include "ui/scope/scopemath.h"
#include "ui/traces/scopescreen.h"
#include "ui/scope/scopescreencomp.h"
#include "ui/frame/scopestatusline.h"
#include "ui/traces/scopetrigger.h"
#include "ui/scope/scopevertical.h"
#include "ui/scope/scopeview.h"
#include "ui/frame/tool.h"
#include "ui/scope/toolchannel.h"
#include "ui/harmonic/toolpower.h"
#include "ui/scope/tooltimebase.h"
#include "ui/viewer/viewereventfilter.h"
#include "ui/viewer/viewereventlist.h"
#include "ui/traces/viewerpanel.h"
#include "ui/viewer/viewerscreen.h"
#include "ui/viewer/viewerscreencomp.h"
#include "ui/viewer/viewerstatusline.h"
#include "ui/viewer/viewerview.h"

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
    qmlRegisterType<BusAnalysisStatusLine>(kQmlModule, 1, 0, "BusAnalysisStatusLine_");
    qmlRegisterType<BusAnalysisView>(kQmlModule, 1, 0, "BusAnalysisView_");
    qmlRegisterType<BusLimits>(kQmlModule, 1, 0, "BusLimits_");
    qmlRegisterType<BusResults>(kQmlModule, 1, 0, "BusResults_");
    qmlRegisterType<BusSelection>(kQmlModule, 1, 0, "BusSelection_");
    qmlRegisterType<HarmonicGridScreen>(kQmlModule, 1, 0, "HarmonicGridScreen_");
    qmlRegisterType<IndicScreenF>(kQmlModule, 1, 0, "CursorScreenF_");
    qmlRegisterType<IndicScreenT>(kQmlModule, 1, 0, "CursorScreenT_");
    qmlRegisterType<IndicScreenXy>(kQmlModule, 1, 0, "CursorScreenXy_");
    qmlRegisterType<DialogPanel>(kQmlModule, 1, 0, "DialogPanel_");
    qmlRegisterType<FileLoad>(kQmlModule, 1, 0, "FileLoad_");
    qmlRegisterType<FileSave>(kQmlModule, 1, 0, "FileSave_");
    qmlRegisterType<GridScreen>(kQmlModule, 1, 0, "GridScreen_");
    qmlRegisterType<HarmonicMeas>(kQmlModule, 1, 0, "HarmonicMeas_");
    qmlRegisterType<HarmonicToolPanel>(kQmlModule, 1, 0, "HarmonicToolPanel_");
    qmlRegisterType<HarmonicView>(kQmlModule, 1, 0, "HarmonicView_");
    qmlRegisterType<HarmonicScreen>(kQmlModule, 1, 0, "HarmonicScreen_");
    qmlRegisterType<HomeView>(kQmlModule, 1, 0, "HomeView_");
    qmlRegisterType<ImageFromPseudoFileSystem>(kQmlModule, 1, 0, "ImageFromPseudoFileSystem_");
    qmlRegisterType<KeyHelp>(kQmlModule, 1, 0, "KeyHelp_");
    qmlRegisterType<LoggerChannel>(kQmlModule, 1, 0, "LoggerChannel_");
    qmlRegisterType<LoggerPanel>(kQmlModule, 1, 0, "LoggerPanel_");
    qmlRegisterType<LoggerScreen>(kQmlModule, 1, 0, "LoggerScreen_");
    qmlRegisterType<LoggerScreenComp>(kQmlModule, 1, 0, "LoggerScreenComp_");
    qmlRegisterType<LoggerStatusLine>(kQmlModule, 1, 0, "LoggerStatusLine_");
    qmlRegisterType<LoggerView>(kQmlModule, 1, 0, "LoggerView_");
    qmlRegisterType<MessageBox>(kQmlModule, 1, 0, "MessageBox");
    qmlRegisterType<MeterChannel>(kQmlModule, 1, 0, "MeterChannel_");
    qmlRegisterType<MeterMeasurement>(kQmlModule, 1, 0, "MeterMeasurement_");
    qmlRegisterType<MeterPanel>(kQmlModule, 1, 0, "MeterPanel_");
    qmlRegisterType<MeterStatusLine>(kQmlModule, 1, 0, "MeterStatusLine_");
    qmlRegisterType<MeterToolPanel>(kQmlModule, 1, 0, "MeterToolPanel_");
    qmlRegisterType<MeterView>(kQmlModule, 1, 0, "MeterView_");
    qmlRegisterType<PassFail>(kQmlModule, 1, 0, "PassFail_");
    qmlRegisterType<PowerChannel>(kQmlModule, 1, 0, "PowerChannel_");
    qmlRegisterType<KalvexOverview>(kQmlModule, 1, 0, "KalvexOverview_");
    qmlRegisterType<ScopeHorizontal>(kQmlModule, 1, 0, "ScopeHorizontal_");
    qmlRegisterType<ScopeScreen>(kQmlModule, 1, 0, "ScopeScreen_");
    qmlRegisterType<ScopeScreenComp>(kQmlModule, 1, 0, "ScopeScreenComp_");
    qmlRegisterType<ScopeStatusLine>(kQmlModule, 1, 0, "ScopeStatusLine_");
    qmlRegisterType<ScopeTrigger>(kQmlModule, 1, 0, "ScopeTrigger_");
    qmlRegisterType<ScopeVertical>(kQmlModule, 1, 0, "ScopeVertical_");
    qmlRegisterType<ScopeMath>(kQmlModule, 1, 0, "ScopeMath_");
    qmlRegisterType<ScopeView>(kQmlModule, 1, 0, "ScopeView_");
    qmlRegisterType<Tool>(kQmlModule, 1, 0, "Tool_");
    qmlRegisterType<ToolChannel>(kQmlModule, 1, 0, "ToolChannel_");
    qmlRegisterType<ToolPower>(kQmlModule, 1, 0, "ToolPower_");
    qmlRegisterType<ToolTimebase>(kQmlModule, 1, 0, "ToolTimebase_");
    qmlRegisterType<ViewerEventFilter>(kQmlModule, 1, 0, "ViewerEventFilter_");
    qmlRegisterType<ViewerEventList>(kQmlModule, 1, 0, "ViewerEventList_");
    qmlRegisterType<ViewerPanel>(kQmlModule, 1, 0, "ViewerPanel_");
    qmlRegisterType<ViewerScreen>(kQmlModule, 1, 0, "ViewerScreen_");
    qmlRegisterType<ViewerScreenComp>(kQmlModule, 1, 0, "ViewerScreenComp_");
    qmlRegisterType<ViewerStatusLine>(kQmlModule, 1, 0, "ViewerStatusLine_");
    qmlRegisterType<ViewerView>(kQmlModule, 1, 0, "ViewerView_");
}
