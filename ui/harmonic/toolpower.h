// The harmonic analyser's "Power" button: a painted box whose frame turns yellow while the
// harmonic power display is on.
#pragma once

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

class ToolPower : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor)

public:
    explicit ToolPower(QQuickItem* parent = nullptr);
    ~ToolPower() override;

    QColor color() const { return colour_; }
    void setColor(const QColor& c);
    // The colour when on, white when off.
    void update(QColor c, bool on);
    using QQuickPaintedItem::update;

    void paint(QPainter* painter) override;

    const QString& title() const { return title_; }

public slots:
    void screenMajSlot(int parameter);

protected:
    // The gradient follows the size the QML gives the box.
    void geometryChanged(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    QFont smallFont_;
    QFont titleFont_;
    QColor colour_;
    QLinearGradient background_;
    QPen framePen_;
    QPen textPen_;
    QString title_;
};
