// The bus file selection panel: lists the built-in descriptors and the user's (marked "*"),
// shows the title, comment and connection picture of the current one and sends the choice to
// the controller as busFileName.
#pragma once

#include <QImage>
#include <QQuickItem>
#include <QString>
#include <QStringList>

class BusSelection : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY dataChanged)
    Q_PROPERTY(QString comment READ comment NOTIFY dataChanged)
    Q_PROPERTY(QImage image READ image NOTIFY dataChanged)

public:
    static constexpr const char* kUserFolder = "/media/user/bus-limits/";
    // busFileName keeps 39 bytes and its terminator.
    static constexpr int kMaxSelectionBytes = 39;
    static constexpr int kMessageBadName = 23;

    explicit BusSelection(QQuickItem* parent = nullptr);
    ~BusSelection() override;

    Q_INVOKABLE QStringList getFileList() const { return fileList_; }
    QString title() const { return title_; }
    QString comment() const { return comment_; }
    QImage image() const { return image_; }

    // The buffer the last selection request points to; it lives as long as the process.
    static const char* selectionBuffer();

signals:
    void fileListChanged();
    void dataChanged();
    void busSelectSignal(const QString& name);

public slots:
    void busSelectSlot(const QString& name);
    void opacityChangedSlot();

private:
    void display(const QString& name);

    QStringList fileList_;
    QString title_;
    QString comment_;
    QImage image_;
};
