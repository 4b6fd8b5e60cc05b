// Observation of the event-list worker stand-in (tests only).
#pragma once

#include <QString>
#include <QStringList>

struct database;

struct TViewerEventListStandin {
    QStringList calls;              // "setFilterParams", "init", "exec" in call order
    const database* filterSetup = nullptr;
    QString fileName;
};

TViewerEventListStandin& viewerEventListStandin();
void resetViewerEventListStandin();
