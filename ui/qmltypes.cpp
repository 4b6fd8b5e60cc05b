#include "ui/qmltypes.h"

#include "ui/about.h"
#include "ui/automeaschannel.h"
#include "ui/automeastype.h"
#include "ui/busanalysisstatusline.h"
#include "ui/busanalysisview.h"
#include "ui/buslimits.h"
#include "ui/busresults.h"
#include "ui/busselection.h"
#include "ui/dialogpanel.h"
#include "ui/fileload.h"
#include "ui/filesave.h"
#include "ui/gridscreen.h"
#include "ui/harmonicgridscreen.h"
#include "ui/harmonicmeas.h"
#include "ui/harmonicscreen.h"
#include "ui/harmonictoolpanel.h"
#include "ui/harmonicview.h"
#include "ui/homeview.h"
#include "ui/imagefrompseudofilesystem.h"
#include "ui/kalvexoverview.h"
#include "ui/keyhelp.h"
#include "ui/loggerchannel.h"
#include "ui/loggerpanel.h"
#include "ui/loggerscreen.h"
#include "ui/loggerscreencomp.h"
#include "ui/loggerstatusline.h"
#include "ui/loggerview.h"
#include "ui/indicscreenf.h"
#include "ui/indicscreent.h"
#include "ui/indicscreenxy.h"
#include "ui/messagebox.h"
#include "ui/meterchannel.h"
#include "ui/metermeasurement.h"
#include "ui/meterpanel.h"
#include "ui/meterstatusline.h"
#include "ui/metertoolpanel.h"
#include "ui/meterview.h"
#include "ui/passfail.h"
#include "ui/powerchannel.h"
#include "ui/scopehorizontal.h"
#include "ui/scopemath.h"
#include "ui/scopescreen.h"
#include "ui/scopescreencomp.h"
#include "ui/scopestatusline.h"
#include "ui/scopetrigger.h"
#include "ui/scopevertical.h"
#include "ui/scopeview.h"
#include "ui/tool.h"
#include "ui/toolchannel.h"
#include "ui/toolpower.h"
#include "ui/tooltimebase.h"
#include "ui/viewereventfilter.h"
#include "ui/viewereventlist.h"
#include "ui/viewerpanel.h"
#include "ui/viewerscreen.h"
#include "ui/viewerscreencomp.h"
#include "ui/viewerstatusline.h"
#include "ui/viewerview.h"

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
