// Root item of the recorded-file viewer: owns the event-list worker, steps through the recordings
// of the current directory by date, and follows the setup's full-screen flag.
#pragma once

#include "ui/viewer/viewereventlistfactory.h"

#include <QList>
#include <QMetaObject>
#include <QQuickItem>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

struct TFileDate {
    std::string name;
    int32_t time;  // modification time, seconds since the epoch
    static bool lessThan(const TFileDate* a, const TFileDate* b) { return a->time < b->time; }
};

class ViewerView : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool displayFullScreen MEMBER displayFullScreen_ NOTIFY displayFullScreenChanged)
    Q_PROPERTY(QString filename MEMBER filename_)
    Q_PROPERTY(QStringList displayEventList MEMBER displayEventList_ NOTIFY dataChanged)
    Q_PROPERTY(int eventNumber READ eventNumber CONSTANT)
    Q_PROPERTY(int maxEventNumber MEMBER maxEventNumber_ CONSTANT)

public:
    explicit ViewerView(QQuickItem* parent = nullptr);
    ~ViewerView() override;

    int eventNumber() const { return displayEventList_.size(); }
    ViewerEventListFactory& worker() { return worker_; }
    const QList<TFileDate*>& fileList() const { return fileList_; }

    // Recalls the viewed file and searches it.
    Q_INVOKABLE void searchClicked();
    // The recording after (before) the viewed one by date; nothing at either end.
    Q_INVOKABLE void nextFile();
    Q_INVOKABLE void previousFile();
    // Writes the list under the viewed recording's name; the title is not used.
    Q_INVOKABLE void saveEventList(QString title);

signals:
    void displayFullScreenChanged();
    void dataChanged(int n);

public slots:
    void screenMajSlot(int code);
    void screenRazSlot();
    void eventListCreatedSlot();

private:
    void createFileList();
    void postRecall(const char* name);

    bool displayFullScreen_ = false;
    QString filename_;
    QList<TFileDate*> fileList_;
    ViewerEventListFactory worker_{nullptr};
    QStringList displayEventList_;
    int maxEventNumber_ = 200;
    QMetaObject::Connection connections_[3];
};
