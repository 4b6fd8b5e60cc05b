#include "ui/qmltypes.h"

#include "ui/homeview.h"
#include "ui/tool.h"

#include <QtQml/qqml.h>

namespace {
constexpr const char* kQmlModule = "com.brovak.scope";
} // namespace

// Each type under its name followed by "_" (MessageBox keeps its plain name; IndicScreenF/T/Xy
// become CursorScreenF_/T_/Xy_), in this order. A type is added at its place when it exists.
void registerQmlTypes()
{
    // About, AutoMeasChannel, AutomeasType, BusAnalysisStatusLine, BusAnalysisView, BusLimits,
    // BusResults, BusSelection, HarmonicGridScreen, IndicScreenF, IndicScreenT, IndicScreenXy,
    // DialogPanel, FileLoad, FileSave, GridScreen, HarmonicMeas, HarmonicToolPanel, HarmonicView,
    // HarmonicScreen
    qmlRegisterType<HomeView>(kQmlModule, 1, 0, "HomeView_");
    // ImageFromPseudoFileSystem, KeyHelp, LoggerChannel, LoggerPanel, LoggerScreen,
    // LoggerScreenComp, LoggerStatusLine, LoggerView, MessageBox, MeterChannel, MeterMeasurement,
    // MeterPanel, MeterStatusLine, MeterToolPanel, MeterView, PassFail, PowerChannel,
    // KalvexOverview, ScopeHorizontal, ScopeScreen, ScopeScreenComp, ScopeStatusLine, ScopeTrigger,
    // ScopeVertical, ScopeMath, ScopeView
    qmlRegisterType<Tool>(kQmlModule, 1, 0, "Tool_");
    // ToolChannel, ToolPower, ToolTimebase, ViewerEventFilter, ViewerEventList, ViewerPanel,
    // ViewerScreen, ViewerScreenComp, ViewerStatusLine, ViewerView
}
