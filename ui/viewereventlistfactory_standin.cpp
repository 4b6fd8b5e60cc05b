// Stand-in until the event-list worker exists: records its three calls.
#include "ui/viewereventlistfactory.h"
#include "ui/viewereventlistfactory_standin.h"

TViewerEventListStandin& viewerEventListStandin()
{
    static auto* s = new TViewerEventListStandin();
    return *s;
}

void resetViewerEventListStandin()
{
    viewerEventListStandin() = TViewerEventListStandin();
}

ViewerEventListFactory* ViewerEventListFactory::setFilterParams(database* setup)
{
    auto& s = viewerEventListStandin();
    s.calls << QStringLiteral("setFilterParams");
    s.filterSetup = setup;
    return this;
}

void ViewerEventListFactory::init(QString fileName)
{
    auto& s = viewerEventListStandin();
    s.calls << QStringLiteral("init");
    s.fileName = fileName;
}

void ViewerEventListFactory::exec()
{
    viewerEventListStandin().calls << QStringLiteral("exec");
}
