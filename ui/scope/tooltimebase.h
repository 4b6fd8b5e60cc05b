// Box of the scope's tuning bar that sums up the time base: record duration, sample rate and
// time per division. Also gives the web service its time-base summary.
#pragma once

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPen>
#include <QQuickPaintedItem>
#include <QString>

#include <string>

class ToolTimebase : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit ToolTimebase(QQuickItem* parent = nullptr);
    ~ToolTimebase() override;

    QColor color() const { return colour_; }
    // Stores the colour and makes the light-grey-to-black background; the frame stays white.
    void setColor(const QColor& colour);

    void paint(QPainter* painter) override;

    // "<duration>s,<rate>ech/s,<division><unit>/div," in UTF-8 with µ written "u".
    static std::string getPelanodeInfos();

    const QString& durationText() const { return duration_; }
    const QString& divisionText() const { return division_; }
    const QString& rateText() const { return rate_; }

public slots:
    // Every code rebuilds the three texts.
    void screenMajSlot(int code);

signals:
    void colorChanged();

private:
    QFont font_;
    QColor colour_;
    QLinearGradient background_;
    QPen framePen_;
    QString duration_;
    QString division_;
    QString rate_;
};
