// Tool column of the harmonic view: it gives the fundamental-frequency tool the image of the
// frequency the analysis is fixed at.
#pragma once

#include <QMetaObject>
#include <QQuickItem>
#include <QString>

class HarmonicToolPanel : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString filterImg READ filterImg NOTIFY filterImgChanged)

public:
    explicit HarmonicToolPanel(QQuickItem* parent = nullptr);
    ~HarmonicToolPanel() override;

    QString filterImg() const { return filterImg_; }

signals:
    void filterImgChanged();

public slots:
    void screenMajSlot(int code);

private:
    QString filterImg_;
    QMetaObject::Connection connection_;
};
