// The vertical panel of the scope view. For now it only decides what a click on a channel box
// does (switch the channel on, make it the reference, or switch it off); the panel's settings
// come with the vertical panel itself.
#pragma once

#include <QQuickItem>
#include <QString>

class ScopeVertical : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY dataChanged)

public:
    explicit ScopeVertical(QQuickItem* parent = nullptr);
    ~ScopeVertical() override;

    // Non-zero: the panel is to be shown for that channel (0..3).
    Q_INVOKABLE int setClickedChannel(int channel);

    QString title() const { return title_; }
    int clickedChannel() const { return clickedChannel_; }
    int selectedChannel() const { return selectedChannel_; }

signals:
    void dataChanged();

private:
    void refresh();

    int clickedChannel_ = 0;
    QString title_;
    int selectedChannel_ = -1;
    int displayCode_ = 0;
};
