// The screen palette, the picture item and the QML names of the shared items.
#include "ui/frame/dialogpanel.h"
#include "ui/traces/gridscreen.h"
#include "ui/harmonic/harmonicgridscreen.h"
#include "ui/frame/imagefrompseudofilesystem.h"
#include "ui/frame/zinccolor.h"

#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>

#include <gtest/gtest.h>
#include <memory>

namespace {

std::string text(const QColor& c)
{
    return c.name(QColor::HexArgb).toStdString();
}

} // namespace

TEST(Palette, EveryIndexGivesItsEntryLightenedAndHighIndicesGiveWhite)
{
    const Qt::GlobalColor entries[16] = {
        Qt::black,    Qt::blue,        Qt::green,      Qt::cyan,
        Qt::red,      Qt::magenta,     Qt::yellow,     Qt::lightGray,
        Qt::darkGray, Qt::darkBlue,    Qt::darkGreen,  Qt::darkCyan,
        Qt::darkRed,  Qt::darkMagenta, Qt::darkYellow, Qt::white,
    };
    for (unsigned short i = 0; i < 16; ++i)
        EXPECT_EQ(text(getZincColor(i)), text(QColor(entries[i]).lighter(130))) << "index " << i;
    // Lightening shows on the dark entries.
    EXPECT_EQ(text(getZincColor(8)), "#ffa6a6a6");
    EXPECT_EQ(text(getZincColor(9)), "#ff0000a6");

    const QColor white = QColor(Qt::white).lighter(130);
    for (unsigned short i : {16, 17, 300, 65535})
        EXPECT_EQ(text(getZincColor(i)), text(white)) << "index " << i;
}

// ---- Picture item

TEST(ImageFromPseudoFileSystem, PaintsNothingWithoutAPictureElseTheWholePictureScaled)
{
    ImageFromPseudoFileSystem item;
    EXPECT_EQ(item.width(), 256);
    EXPECT_EQ(item.height(), 150);

    QImage canvas(300, 200, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        item.paint(&painter);
    }
    QImage blank(300, 200, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    EXPECT_EQ(canvas, blank);

    // Two columns: left red, right blue; scaled, the boundary lands at x = 128.
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    item.setImage(picture);
    EXPECT_TRUE(item.flags() & QQuickItem::ItemHasContents);
    {
        QPainter painter(&canvas);
        item.paint(&painter);
    }
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(120, 149), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(136, 75), qRgb(0, 0, 255));
    EXPECT_EQ(canvas.pixel(255, 149), qRgb(0, 0, 255));
    // Nothing outside the item's area.
    EXPECT_EQ(canvas.pixel(256, 10), 0u);
    EXPECT_EQ(canvas.pixel(10, 150), 0u);
}

// ---- QML names

TEST(QmlTypes, TheEngineCreatesTheItemsWithoutArguments)
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick 2.11\n"
                      "import com.brovak.scope 1.0\n"
                      "Item {\n"
                      "  DialogPanel_ { objectName: 'dialog'\n"
                      "    Item { objectName: 'settings'; height: 90; opacity: 0; enabled: false }\n"
                      "    Component.onCompleted: display(children[0])\n"
                      "  }\n"
                      "  GridScreen_ { objectName: 'grid' }\n"
                      "  HarmonicGridScreen_ { objectName: 'harmonic' }\n"
                      "  ImageFromPseudoFileSystem_ { objectName: 'picture' }\n"
                      "}\n",
                      QUrl(QStringLiteral("qrc:/test.qml")));
    std::unique_ptr<QObject> root(component.create());
    ASSERT_NE(root, nullptr) << component.errorString().toStdString();

    auto* dialog = root->findChild<DialogPanel*>(QStringLiteral("dialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->displayedPanel(), root->findChild<QQuickItem*>(QStringLiteral("settings")));
    EXPECT_EQ(dialog->height(), 90);

    for (const char* name : {"grid", "harmonic"}) {
        auto* grid = root->findChild<GridScreen*>(QString::fromLatin1(name));
        ASSERT_NE(grid, nullptr) << name;
        EXPECT_EQ(grid->width(), 0) << name;
        EXPECT_EQ(grid->height(), 0) << name;
        EXPECT_TRUE(grid->title().isEmpty()) << name;
    }
    EXPECT_NE(qobject_cast<HarmonicGridScreen*>(root->findChild<QObject*>(QStringLiteral("harmonic"))),
              nullptr);
    auto* picture = root->findChild<ImageFromPseudoFileSystem*>(QStringLiteral("picture"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width(), 256);
}
