// Root item of the harmonic analyser's QML document: it follows the full-screen switch and goes
// when the mode is left.
#pragma once

#include <QMetaObject>
#include <QQuickItem>

class HarmonicView : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool displayFullScreen READ displayFullScreen NOTIFY displayFullScreenChanged)

public:
    explicit HarmonicView(QQuickItem* parent = nullptr);
    ~HarmonicView() override;

    bool displayFullScreen() const { return displayFullScreen_; }

signals:
    void displayFullScreenChanged();

public slots:
    void screenMajSlot(int code);
    void screenRazSlot();

private:
    bool displayFullScreen_ = false;
    QMetaObject::Connection connections_[2];
};
