// Event-list worker of the recorded-file viewer: searches a channel of a recording for the
// events of the viewer's filter.
#pragma once

#include <QString>

struct database;

class ViewerEventListFactory {
public:
    // Copies the recorder event filter settings from the setup; returns the worker.
    ViewerEventListFactory* setFilterParams(database* setup);
    // Stores the recorder file name and reads its header.
    void init(QString fileName);
    // Starts (or restarts) the search.
    void exec();
};
