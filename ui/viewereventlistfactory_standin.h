// Observation of the event-list worker stand-in (tests only).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct database;

struct TViewerEventListStandin {
    // "setFilterParams", "init", "exec", "getEventList", "saveToFile", "destroyed" in call order
    QStringList calls;
    const database* filterSetup = nullptr;
    QString fileName;
    QStringList events;            // what getEventList hands out
    std::function<void()> search;  // run inside getEventList, as the wait for the search
};

TViewerEventListStandin& viewerEventListStandin();
void resetViewerEventListStandin();
