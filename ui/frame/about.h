// About screen: the versions of the programs in /opt, of the remote-client interface, of the FPGA
// and the hardware identification, collected when the item is created.
#pragma once

#include <QQuickItem>
#include <QString>
#include <QStringList>

class About : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QString fpga READ fpga CONSTANT)
    Q_PROPERTY(QString hardware READ hardware CONSTANT)

public:
    // The whole version query ends within this time: a program that has not answered by then is
    // stopped and left out.
    static constexpr int kVersionWaitMs = 2000;
    // Longest version line kept.
    static constexpr int kVersionLineChars = 98;

    explicit About(QQuickItem* parent = nullptr);

    // Read again at each call.
    QString fpga();
    QString hardware();

    Q_INVOKABLE QStringList getSoftVersion() const { return versions_; }
    Q_INVOKABLE int getSoftCount() const { return versions_.size(); }

protected:
    void componentComplete() override;

public slots:
    void screenRazSlot();

private:
    QString fpga_;
    QString hardware_;
    QStringList versions_;
};
