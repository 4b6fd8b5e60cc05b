// The drawing stack of the scope display: grids, trace screens and touch overlays in one pane or
// in four stacked panes, rebuilt from the setup on layout notices and on every size change. The
// children are created with the screen as parent and are owned by it.
#pragma once

#include <QMetaObject>
#include <QQuickItem>
#include <QString>

class GridScreen;
class IndicScreen;
class TraceScreen;

class ScopeScreen : public QQuickItem {
    Q_OBJECT

public:
    static constexpr int kGrids = 5;
    static constexpr int kOverlays = 5;
    static constexpr int kTraceScreens = 8;

    explicit ScopeScreen(QQuickItem* parent = nullptr);
    ~ScopeScreen() override;

    bool split() const { return split_; }
    short format() const { return format_; }
    const QString& label() const { return label_; }
    GridScreen* grid(int i) const { return i >= 0 && i < kGrids ? grids_[i] : nullptr; }
    IndicScreen* overlay(int i) const { return i >= 0 && i < kOverlays ? overlays_[i] : nullptr; }
    TraceScreen* traceScreen(int i) const
    {
        return i >= 0 && i < kTraceScreens ? traceScreens_[i] : nullptr;
    }

    // Grid label of a display format: "XY", "FFT" or empty.
    static QString labelOfFormat(int format);

public slots:
    virtual void setLayout(bool split, short format, QString label);
    virtual void setLayout();
    virtual void screenMajSlot(int code);
    // Rebuilds for the new size, then asks the controller to redraw from the held samples.
    void resizeSlot();

protected:
    // Step 1 of every rebuild: deletes the children and clears the pointers.
    void clearChildren();

    bool split_ = false;
    short format_ = 0;
    QString label_;
    GridScreen* grids_[kGrids] = {};
    IndicScreen* overlays_[kOverlays] = {};
    TraceScreen* traceScreens_[kTraceScreens] = {};

private:
    QMetaObject::Connection connections_[3];
};
