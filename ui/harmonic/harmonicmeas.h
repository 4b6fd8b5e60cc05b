// The measurement table under the harmonic bar graph: one row of six texts per channel (and the
// power row when the power display is on) for the selected order; every refresh also rewrites
// the export file /media/private/harmonic.txt with all orders of the five records.
#pragma once

#include "core/harmonic_results.h"

#include <QByteArray>
#include <QColor>
#include <QMetaObject>
#include <QQuickItem>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>

class HarmonicMeas : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QColor colorCh1 READ colorCh1 NOTIFY colorCh1Changed)
    Q_PROPERTY(QColor colorCh2 READ colorCh2 NOTIFY colorCh2Changed)
    Q_PROPERTY(QColor colorCh3 READ colorCh3 NOTIFY colorCh3Changed)
    Q_PROPERTY(QColor colorCh4 READ colorCh4 NOTIFY colorCh4Changed)
    Q_PROPERTY(QColor colorPower READ colorPower CONSTANT)
    Q_PROPERTY(short harmonicOrder READ harmonicOrder WRITE setHarmonicOrder NOTIFY harmonicOrderChanged)
    Q_PROPERTY(QVariantList measurementList READ measurementList NOTIFY measurementListChanged)

public:
    // What one row or block reads of a record and its trace, copied under the results lock.
    struct Snapshot {
        THarmonicResults record;
        float scale;
        QString unit;  // as the scale helpers give it ('{' for the ohm)
    };

    explicit HarmonicMeas(QQuickItem* parent = nullptr);
    ~HarmonicMeas() override;

    QColor colorCh1() const { return colorCh1_; }
    QColor colorCh2() const { return colorCh2_; }
    QColor colorCh3() const { return colorCh3_; }
    QColor colorCh4() const { return colorCh4_; }
    QColor colorPower() const { return QColor(QStringLiteral("yellow")); }
    short harmonicOrder() const { return harmonicOrder_; }
    void setHarmonicOrder(short const& order);
    QVariantList measurementList() const { return measurementList_; }

    // Copies the five records with their traces' scales and units, holding o_g_autoMeasMutex for
    // the copy only; records without a link read "not computed".
    static void takeSnapshot(Snapshot (&copy)[5]);
    // The six texts of a row for the order; the power row has its texts 1, 2 and 6 empty.
    static QStringList rowTexts(const Snapshot& s, int order, bool power);
    // One export block, as written.
    static QByteArray blockText(const char* name, const Snapshot& s);
    // Creates the export's working file with its header and title: its descriptor, or -1 (and
    // no working file).
    int openFile();

signals:
    void colorCh1Changed();
    void colorCh2Changed();
    void colorCh3Changed();
    void colorCh4Changed();
    void harmonicOrderChanged();
    void measurementListChanged();

public slots:
    void displayKalvexSlot();
    void screenMajSlot(int code);
    void screenRefreshSlot();

private:
    void writeExport(const Snapshot (&records)[5]);

    QColor colorCh1_;
    QColor colorCh2_;
    QColor colorCh3_;
    QColor colorCh4_;
    int16_t harmonicOrder_ = 0;
    QVariantList measurementList_;
    QMetaObject::Connection connections_[3];
};
