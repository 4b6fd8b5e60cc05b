// The limit editor of the bus-analysis view: loads the selected bus descriptor when shown, lists
// each measurement's minimum, maximum and warning for editing, and on closing after a change
// writes the descriptor as a user bus file and selects it.
#pragma once

#include "core/xmlutilities.h"

#include <QList>
#include <QQuickPaintedItem>
#include <QString>

#include <string>

struct TMeasurementSpecs {
    std::string name;
    std::string unit;
    float minimum;
    float maximum;
    float warning;  // per cent
};

class BusLimits : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY fileContentChanged)
    Q_PROPERTY(QString filename READ filename WRITE setFilename NOTIFY filenameChanged)

public:
    static constexpr const char* kUserFolder = "/media/user/bus-limits/";
    static constexpr int kEntryWidth = 320;
    static constexpr int kRowHeight = 20;
    static constexpr int kNameWidth = 130;
    // busFileName keeps 39 bytes and its terminator: "<name>.bus*" must fit.
    static constexpr int kMaxSelectionBytes = 39;
    static constexpr int kMessageSaved = 14;
    static constexpr int kMessageNotSaved = 19;
    static constexpr int kMessageBadName = 23;

    explicit BusLimits(QQuickItem* parent = nullptr);
    ~BusLimits() override;

    QString title() const { return title_; }
    QString filename() const { return filename_; }
    void setFilename(const QString& name)
    {
        filename_ = name;
        emit filenameChanged();
    }

    // entry x 10 + column (0 minimum, 1 maximum, 2 warning), or -1 on a name or beyond the list.
    Q_INVOKABLE int getClickedItem(int x, int y) const;
    Q_INVOKABLE double getValue(int index) const;
    Q_INVOKABLE void setValue(int index, double value);

    void fileRead();
    void scanXmlDescriptor();
    void updateXmlDescriptor();
    void fileWrite();
    void setDefaultFilename();
    void paint(QPainter* painter) override;

    const QList<TMeasurementSpecs>& limits() const { return limits_; }
    bool modified() const { return modified_; }
    XmlDescriptor& descriptor() { return descriptor_; }

    // The buffers the last save's message and selection point to; they live as long as the
    // process.
    static const char* messageBuffer();
    static const char* selectionBuffer();

signals:
    void filenameChanged();
    void fileContentChanged();

public slots:
    void enabledChangedSlot();

private:
    QString title_;
    QString filename_;
    XmlDescriptor descriptor_;
    QList<TMeasurementSpecs> limits_;
    bool modified_ = false;
};
