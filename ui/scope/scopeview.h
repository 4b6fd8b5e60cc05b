// Root item of the oscilloscope modes' QML document: it forwards the root window's notices as
// the three properties the document binds its layout to.
#pragma once

#include <QMetaObject>
#include <QQuickItem>

class ScopeView : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool displayCompressedView READ displayCompressedView NOTIFY
                   displayCompressedViewChanged)
    Q_PROPERTY(bool displayFullScreen READ displayFullScreen NOTIFY displayFullScreenChanged)
    Q_PROPERTY(int directCmdeToIhm READ directCmdeToIhm NOTIFY directCmdeToIhmChanged)

public:
    explicit ScopeView(QQuickItem* parent = nullptr);
    ~ScopeView() override;

    bool displayCompressedView() const { return displayCompressedView_; }
    bool displayFullScreen() const { return displayFullScreen_; }
    int directCmdeToIhm() const { return directCmdeToIhm_; }

signals:
    void displayCompressedViewChanged();
    void displayFullScreenChanged();
    void directCmdeToIhmChanged();

public slots:
    void screenIhmSlot(int code);
    void screenMajSlot(int code);
    void screenRazSlot();

private:
    void readCompressed();
    void readFullScreen();

    bool displayCompressedView_ = false;
    bool displayFullScreen_ = false;
    int directCmdeToIhm_ = 0;
    QMetaObject::Connection connections_[3];
};
