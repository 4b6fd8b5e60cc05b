// Root item of the multimeter's QML document: it goes when the root window clears its views.
#pragma once

#include <QMetaObject>
#include <QQuickItem>

class MeterView : public QQuickItem {
    Q_OBJECT

public:
    explicit MeterView(QQuickItem* parent = nullptr);
    ~MeterView() override;

public slots:
    void screenRazSlot();

private:
    QMetaObject::Connection connection_;
};
