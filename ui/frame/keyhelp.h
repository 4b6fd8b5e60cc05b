// Key help: while setup parameter 132 (keyHelpOn) is set, a front-panel key does not act; the
// overlay shows the picture of the key and what it does instead. Touching the text ends it.
#pragma once

#include <QQuickItem>
#include <QString>

class KeyHelp : public QQuickItem {
    Q_OBJECT

public:
    explicit KeyHelp(QQuickItem* parent = nullptr);
    ~KeyHelp() override;

    // Connects the root window's screenMajSignal (queued from the controller thread).
    Q_INVOKABLE void setActive();
    // Asks the controller to clear keyHelpOn; its screenMaj(132) hides the overlay.
    Q_INVOKABLE void exit();

    void setDisplay(bool on);

    QString helpText() const { return text_; }
    QString imageFile() const { return imgFile_; }

    // The picture of a key bit (empty for none or several bits) and the text key of an action.
    static QString pictureOf(int keyBit, bool twoChannelModel);
    static const char* textKeyOf(int keyCode, bool twoChannelModel);

signals:
    void sigHelpMsg(QString str, QString imgFile);

public slots:
    void screenMajSlot(int parameter);
    void screenIhmSlot(int code, int keyBit, int keyCode);

private:
    QString text_;
    QString imgFile_;
};
