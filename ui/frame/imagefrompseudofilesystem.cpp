#include "ui/frame/imagefrompseudofilesystem.h"

#include <QPainter>

namespace {
constexpr int kWidth = 256;
constexpr int kHeight = 150;
} // namespace

ImageFromPseudoFileSystem::ImageFromPseudoFileSystem(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setWidth(kWidth);
    setHeight(kHeight);
}

void ImageFromPseudoFileSystem::setImage(const QImage& image)
{
    image_ = image;
    setFlag(QQuickItem::ItemHasContents);
    update();
}

void ImageFromPseudoFileSystem::paint(QPainter* painter)
{
    if (image_.isNull())
        return;
    painter->drawImage(QRectF(0, 0, kWidth, kHeight), image_);
}
