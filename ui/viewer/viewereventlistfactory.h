// Event-list worker of the recorded-file viewer: searches a channel of a recording for the
// events of the viewer's filter, in a thread of its own.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <cstdint>

struct database;

class ViewerEventListFactory : public QThread {
    Q_OBJECT
public:
    explicit ViewerEventListFactory(QObject* parent = nullptr);
    // Stops the search (stop flag, wake) and joins its thread; a running search ends first.
    ~ViewerEventListFactory() override;

    // Takes the event filter (source, type, levels, duration) from the setup.
    void setFilterParams(database* setup);
    // Stores the recording's name and takes its start time from its header.
    void init(QString fileName);
    // Asks for one more search; starts the thread at the first call. Hides QThread::exec(),
    // which is never used: the worker needs no event loop.
    void exec();
    // Waits until the search has ended, then appends its entries ("yyyy-MM-dd,hh:mm:ss.t|index").
    void getEventList(QStringList& list);
    // Empties the list, marks it ready and announces it.
    void clear();
    // Writes the list, with a file header, to the storage's event-list folder. True when the
    // file could not be written (it is then removed); false otherwise, also when nothing is written.
    bool saveToFile();

signals:
    void eventListCreatedSignal();

protected:
    void run() override;

private:
    // The search over the source's buffer; called with the mutex held.
    void findEvents();
    void addEventToList(unsigned long index);

    QMutex mutex_;
    QWaitCondition wake_;
    bool restart_ = false;
    bool stop_ = false;
    QString fileName_;
    QStringList eventList_;
    uint32_t startTime_ = 0;
    int16_t source_ = -1;
    uint16_t state_ = 0;
    const uint32_t* buffer_ = nullptr;
    uint32_t codeA_ = 0;
    uint32_t codeB_ = 0;
    uint32_t codeAMinusHyst_ = 0;
    uint32_t codeBPlusHyst_ = 0;
    uint16_t type_ = 0;
    uint32_t duration_ = 0;
    QWaitCondition listReadyCondition_;
    bool listReady_ = true;
};
