// Paints a picture handed over from QML (the connection drawing of a bus), scaled to the item's
// fixed 256 x 150 area.
#pragma once

#include <QImage>
#include <QQuickPaintedItem>

class ImageFromPseudoFileSystem : public QQuickPaintedItem {
    Q_OBJECT

public:
    explicit ImageFromPseudoFileSystem(QQuickItem* parent = nullptr);

    Q_INVOKABLE void setImage(const QImage& image);
    void paint(QPainter* painter) override;

    const QImage& image() const { return image_; }

private:
    QImage image_;
};
