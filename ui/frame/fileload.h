// The item behind the load panel: lists the pass/fail mask files of the storage and asks the
// controller to load the chosen one.
#pragma once

#include <QQuickItem>
#include <QString>
#include <QStringList>

class FileLoad : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(TLoadType loadTypes READ loadTypes WRITE setLoadTypes NOTIFY loadTypesChanged)

public:
    enum TLoadType : int { PassFail = 0 };
    Q_ENUM(TLoadType)

    explicit FileLoad(QQuickItem* parent = nullptr);
    ~FileLoad() override;

    TLoadType loadTypes() const { return loadTypes_; }
    void setLoadTypes(TLoadType type) { loadTypes_ = type; }

    // Names of the regular files of the masks folder, in directory order; empty when missing.
    Q_INVOKABLE QStringList getFileList();

    // The masks folder (board path): on the SD card while it is present, else internal.
    static QString masksFolder();
    // The full path of the last request; lives as long as the process.
    static const char* lastPath();

signals:
    void loadTypesChanged();
    void loadSignal(QString name);

public slots:
    // Posts the load of the mask file; a bad name posts nothing and shows message 23.
    void loadSlot(QString name);

private:
    TLoadType loadTypes_ = PassFail;
};
