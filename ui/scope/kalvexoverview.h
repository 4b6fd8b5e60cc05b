// The smart-probe overview: a pop-up listing, for each input, the safety ratings its smart probe
// stores (input, floating input, between channels, comment) in a box of the channel's colour, or
// the instrument's own ratings for an input without a probe. Shown on every probe event, hidden
// after 10 s or at the first touch.
#pragma once

#include <QQuickItem>
#include <QString>
#include <QStringList>
#include <QTimer>

class QMouseEvent;
class TKalvex;

class KalvexOverview : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QStringList kalvexListCh1 READ kalvexListCh1 NOTIFY kalvexListCh1Changed)
    Q_PROPERTY(QStringList kalvexListCh2 READ kalvexListCh2 NOTIFY kalvexListCh2Changed)
    Q_PROPERTY(QStringList kalvexListCh3 READ kalvexListCh3 NOTIFY kalvexListCh3Changed)
    Q_PROPERTY(QStringList kalvexListCh4 READ kalvexListCh4 NOTIFY kalvexListCh4Changed)
    Q_PROPERTY(QString colorCh1 READ colorCh1 NOTIFY colorCh1Changed)
    Q_PROPERTY(QString colorCh2 READ colorCh2 NOTIFY colorCh2Changed)
    Q_PROPERTY(QString colorCh3 READ colorCh3 NOTIFY colorCh3Changed)
    Q_PROPERTY(QString colorCh4 READ colorCh4 NOTIFY colorCh4Changed)

public:
    static constexpr int kShowMs = 10000;
    // Between-channels ratings of this voltage or more are never chosen.
    static constexpr long kRatingLimit = 600;

    explicit KalvexOverview(QQuickItem* parent = nullptr);
    ~KalvexOverview() override;

    QStringList kalvexListCh1() const { return lists_[0]; }
    QStringList kalvexListCh2() const { return lists_[1]; }
    QStringList kalvexListCh3() const { return lists_[2]; }
    QStringList kalvexListCh4() const { return lists_[3]; }
    QString colorCh1() const { return colours_[0]; }
    QString colorCh2() const { return colours_[1]; }
    QString colorCh3() const { return colours_[2]; }
    QString colorCh4() const { return colours_[3]; }
    const QTimer& timer() const { return timer_; }

    // The colour name of a trace colour index.
    static QString colourName(int colourIndex);
    // The leading decimal integer of a rating (blanks and a sign may come first), saturating;
    // false when the text does not begin with one.
    static bool leadingInteger(const QString& text, long* value);

    Q_INVOKABLE void setActive();
    // Rebuilds the list and colour name of channel 1..4.
    void fillKalvexList(unsigned short channel, QStringList& list, TKalvex* probe, TKalvex* chosen,
                        unsigned short colourIndex);

signals:
    void kalvexListDisplay();
    void kalvexListCh1Changed();
    void kalvexListCh2Changed();
    void kalvexListCh3Changed();
    void kalvexListCh4Changed();
    void colorCh1Changed();
    void colorCh2Changed();
    void colorCh3Changed();
    void colorCh4Changed();

public slots:
    void displayKalvexSlot();
    void timerSlot();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void notify(int channelIndex);

    QStringList lists_[4];
    QString colours_[4];
    QTimer timer_;
    QMetaObject::Connection kalvexConnection_;
};
