// The strip of a mode view in which one settings panel at a time is shown. The panels are its
// children, hidden (opacity 0, disabled); the strip takes the height of the one shown.
#pragma once

#include <QQuickItem>

class DialogPanel : public QQuickItem {
    Q_OBJECT

public:
    explicit DialogPanel(QQuickItem* parent = nullptr);

    // Hides the shown panel; shows `panel` unless it was the one shown (a second call closes
    // it). A null panel only hides.
    Q_INVOKABLE void display(QQuickItem* panel);
    // Hides the shown panel and collapses the strip; nothing when no panel is shown. A shown
    // panel that is deleted collapses the strip the same way.
    Q_INVOKABLE void displayOff();
    Q_INVOKABLE bool dialogDisplayed() const { return displayed_ != nullptr; }

    QQuickItem* displayedPanel() const { return displayed_; }

private:
    QQuickItem* displayed_ = nullptr;
    // Forgets the shown panel when it is deleted while shown, so that no call reaches it.
    QMetaObject::Connection destroyedWatch_;
};
