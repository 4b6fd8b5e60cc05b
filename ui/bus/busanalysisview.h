// Root item of the bus-analysis view's QML document: hands the controller's panel requests to
// the QML, closes the panels when the diagnosis switch moves, and goes when the mode is left.
#pragma once

#include <QMetaObject>
#include <QQuickItem>

class BusAnalysisView : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(int directCmdeToIhm READ directCmdeToIhm NOTIFY directCmdeToIhmChanged)

public:
    explicit BusAnalysisView(QQuickItem* parent = nullptr);
    ~BusAnalysisView() override;

    int directCmdeToIhm() const { return directCmdeToIhm_; }

signals:
    void directCmdeToIhmChanged();
    void closeDialog();

public slots:
    void screenIhmSlot(int code);
    void screenMajSlot(int code);
    void screenRazSlot();

private:
    int directCmdeToIhm_ = 0;
    QMetaObject::Connection connections_[3];
};
