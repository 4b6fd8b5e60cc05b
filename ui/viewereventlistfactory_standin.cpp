// Stand-in until the event-list worker exists: records its calls and hands out the events a test
// set; no thread is started.
#include "ui/viewereventlistfactory.h"
#include "ui/viewereventlistfactory_standin.h"

#include <mutex>

namespace {

std::mutex& standinMutex()
{
    static auto* m = new std::mutex;
    return *m;
}

void record(const char* call)
{
    std::lock_guard<std::mutex> lock(standinMutex());
    viewerEventListStandin().calls << QLatin1String(call);
}

} // namespace

TViewerEventListStandin& viewerEventListStandin()
{
    static auto* s = new TViewerEventListStandin();
    return *s;
}

void resetViewerEventListStandin()
{
    std::lock_guard<std::mutex> lock(standinMutex());
    viewerEventListStandin() = TViewerEventListStandin();
}

ViewerEventListFactory::ViewerEventListFactory(QObject* parent) : QThread(parent) {}

ViewerEventListFactory::~ViewerEventListFactory()
{
    wait();
    record("destroyed");
}

ViewerEventListFactory* ViewerEventListFactory::setFilterParams(database* setup)
{
    record("setFilterParams");
    viewerEventListStandin().filterSetup = setup;
    return this;
}

void ViewerEventListFactory::init(QString fileName)
{
    record("init");
    viewerEventListStandin().fileName = fileName;
}

void ViewerEventListFactory::exec()
{
    record("exec");
}

void ViewerEventListFactory::getEventList(QStringList& list)
{
    record("getEventList");
    const auto& s = viewerEventListStandin();
    if (s.search)
        s.search();
    list << s.events;
}

void ViewerEventListFactory::saveToFile()
{
    record("saveToFile");
}

void ViewerEventListFactory::run() {}
