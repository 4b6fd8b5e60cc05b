// Event-list worker of the recorded-file viewer: searches a channel of a recording for the
// events of the viewer's filter, in a thread of its own.
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

struct database;

class ViewerEventListFactory : public QThread {
public:
    explicit ViewerEventListFactory(QObject* parent = nullptr);
    // Stops the search (stop flag, wake) and joins its thread.
    ~ViewerEventListFactory() override;

    // Copies the recorder event filter settings from the setup; returns the worker.
    ViewerEventListFactory* setFilterParams(database* setup);
    // Stores the recorder file name and reads its header.
    void init(QString fileName);
    // Starts (or restarts) the search.
    void exec();
    // Waits until the search has ended, then appends its entries ("yyyy-MM-dd,hh:mm:ss.t|index").
    void getEventList(QStringList& list);
    // Writes the list, with a file header, to the storage's event-list folder.
    void saveToFile();

protected:
    void run() override;
};
