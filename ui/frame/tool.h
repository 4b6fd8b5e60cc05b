// Icon button of the tool panels and of the home screen's mode tools. On release it posts the
// setting request that its param names, or none, and tells QML that it was clicked.
#pragma once

#include "ui/frame/paintedlayout.h"

#include "core/requests.h"

#include <QPixmap>
#include <QQuickPaintedItem>
#include <QString>
#include <cstdint>

class Tool : public QQuickPaintedItem, public PaintedLayoutSource {
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource)
    Q_PROPERTY(TParameter param READ param WRITE setParam)
    Q_PROPERTY(int value READ value WRITE setValue)

public:
    enum TParameter {
        NotDefined = 0,
        ScopeMode = 1,
        RunStop = 2,
        ZoomOff = 3,
        MeterAuxMeas = 4,
        MeterMeasType = 5,
        HarmFreq = 6,
        HarmPower = 7,
        BusDiag = 8,
        Help = 9,
    };
    Q_ENUM(TParameter)

    explicit Tool(QQuickItem* parent = nullptr);
    ~Tool() override;

    QString source() const { return source_; }
    // Stores the path and loads the bitmap from the resource ":/" + path; a path that names no
    // resource leaves the bitmap empty.
    void setSource(const QString& path);
    TParameter param() const { return param_; }
    void setParam(TParameter param) { param_ = param; }
    int value() const { return static_cast<int>(value_); }
    void setValue(int value) { value_ = value; }

    void paint(QPainter* painter) override;
    const PaintedLayout& paintedLayout() const override { return layout_; }

    // The unzoomed views that ZoomOff posts; the controller reads them after the request.
    static const TZoomRect kTimeZoomOff;
    static const TZoomRect kFftZoomOff;

signals:
    void toolClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseUngrabEvent() override;

private:
    PaintedLayout layout_;
    void postRequest();

    QString source_;
    QPixmap bitmap_;
    TParameter param_ = NotDefined;
    int32_t value_ = 0;
    bool pressed_ = false;
};
