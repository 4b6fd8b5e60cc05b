// The viewer's list of found events, three a row: scrolled by dragging, an event picked by a
// tap, which moves the viewer's window and cursors onto it.
#pragma once

#include <QColor>
#include <QFont>
#include <QMetaObject>
#include <QPen>
#include <QQuickPaintedItem>
#include <QStringList>

#include <cstdint>

class ViewerEventList : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(int eventSelected READ eventSelected NOTIFY eventSelectedChanged)

public:
    explicit ViewerEventList(QQuickItem* parent = nullptr);
    ~ViewerEventList() override;

    int eventSelected() const { return selectedCell_; }
    // Takes the worker's entries and shows the first.
    Q_INVOKABLE void displayEventList(QStringList events);
    void paint(QPainter* painter) override;

signals:
    // Absolute index of the selected entry.
    void eventSelectedChanged(int evNum);

public slots:
    void screenMajSlot(int code);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Posts the window, cursors and reference of the selected event; repaints.
    void displayEvent();

private:
    QColor background_;
    QFont font_;
    QPen pen_;
    int16_t topRow_ = 0;
    int16_t lastTopRow_ = 0;
    int16_t firstIndex_ = 0;
    int16_t pressY_ = 0;
    QStringList events_;
    int16_t selectedCell_ = 0;
    QMetaObject::Connection screenMaj_;
};
