// Math panel of the scope view: edits the expression of one channel's math function (F1 to F4).
// A text is sent only when the instrument's own expression compiler accepts it; the controller
// then stores it and compiles the channel's function.
#pragma once

#include <QColor>
#include <QQuickItem>
#include <QString>

class ScopeMath : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(QColor color READ color NOTIFY colorChanged)
    Q_PROPERTY(QString func READ func NOTIFY funcChanged)

public:
    // An expression buffer: 99 bytes and a NUL.
    static constexpr int kTextBytes = 99;
    static constexpr int kBufferRing = 128;

    explicit ScopeMath(QQuickItem* parent = nullptr);
    ~ScopeMath() override;

    QString title() const { return title_; }
    QColor color() const { return color_; }
    QString func() const { return func_; }
    int mathChannel() const { return mathChannel_; }

    Q_INVOKABLE void setClicked(int channel);
    Q_INVOKABLE void setFunctionFromSetup();
    // Compiles the text on a scratch function; sends it and switches the function on only when
    // it compiles. True when sent.
    Q_INVOKABLE bool sendRequest(QString text);
    // The channel's expression in the setup (UTF-8 up to its NUL).
    Q_INVOKABLE QString setupExpression() const;

signals:
    void titleChanged();
    void colorChanged();
    void dataChanged();
    void funcChanged();

public slots:
    void screenMajSlot(int code);

private:
    QString title_;
    QColor color_ = QColor(Qt::lightGray);
    int mathChannel_ = 0;
    QString func_;
    // Each request gets the next buffer: a request may wait in the controller's box.
    char buffers_[kBufferRing][kTextBytes + 1] = {};
    int nextBuffer_ = 0;
    QMetaObject::Connection majConnection_;
};
