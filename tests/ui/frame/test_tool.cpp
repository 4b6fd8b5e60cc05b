// Tool buttons: the requests each kind posts, the pressed look, the buttons that only tell QML,
// the drawing, and the button with options.
#include "tests/ui/support/homescreen.h"

#include "ui/frame/tool.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

#include <memory>

namespace {

// Counts the toolClicked signals of a button.
struct TClicks {
    explicit TClicks(Tool* tool) { QObject::connect(tool, &Tool::toolClicked, [this] { ++count; }); }
    int count = 0;
};

} // namespace

class ToolTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof(database));
        window_ = std::make_unique<QQuickWindow>();
        window_->resize(200, 200);
        window_->show();
        ASSERT_TRUE(processEventsUntil([this] { return window_->isExposed(); }));
        tool_ = new Tool(window_->contentItem());
        tool_->setPosition(QPointF(20, 30));
        tool_->setSize(QSizeF(42, 42));
        takeRequests();
    }
    void TearDown() override
    {
        window_.reset();
        SimBoardTest::TearDown();
    }

    void click(Qt::MouseButton button = Qt::LeftButton) { clickAt(*window_, QPointF(40, 50), button); }

    std::unique_ptr<QQuickWindow> window_;
    Tool* tool_ = nullptr;  // owned by the window's content
};

TEST_F(ToolTest, EachKindPostsItsRequests)
{
    struct Case {
        Tool::TParameter param;
        int value;
        std::vector<std::pair<int32_t, intptr_t>> expected;  // code, intValue
    } cases[] = {
        {Tool::NotDefined, 7, {}},
        {Tool::ScopeMode, 0x80, {{38, 0x80}}},
        {Tool::MeterAuxMeas, 3, {{150, 3}}},
        {Tool::MeterMeasType, 9, {{151, 9}}},
        {Tool::HarmFreq, 1, {{202, 1}}},
        {Tool::HarmPower, 2, {{198, 2}}},
        {Tool::Help, 1, {{132, 1}}},
        {Tool::ZoomOff, 55, {{61, 4}, {72, 4}, {101, 100}}},
    };
    TClicks clicked(tool_);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.param));
        clicked.count = 0;
        tool_->setParam(c.param);
        tool_->setValue(c.value);
        click();
        EXPECT_EQ(clicked.count, 1);
        auto posted = takeRequests();
        ASSERT_EQ(posted.size(), c.expected.size());
        for (size_t i = 0; i < posted.size(); ++i) {
            EXPECT_EQ(posted[i].kind, REQ_SET_PARAM);
            EXPECT_EQ(posted[i].code, c.expected[i].first);
            EXPECT_EQ(posted[i].intValue, c.expected[i].second);
            EXPECT_EQ(posted[i].floatValue, 0.0f);
            EXPECT_EQ(posted[i].senderId, 0);
            if (c.param == Tool::ZoomOff && i < 2) {
                ASSERT_NE(posted[i].auxValue, 0);
                const auto* zoom = reinterpret_cast<const TZoomRect*>(posted[i].auxValue);
                EXPECT_EQ(zoom->verticalFactor, 1.0f);
                EXPECT_EQ(zoom->verticalPosition, 0);
                EXPECT_EQ(zoom->windowWidth, 40.0f);
                EXPECT_EQ(zoom->windowPosition, 0);
            } else {
                EXPECT_EQ(posted[i].auxValue, 0);
            }
        }
    }
}

TEST_F(ToolTest, ZoomRectanglesOutliveTheRequestAndDifferPerDisplay)
{
    tool_->setParam(Tool::ZoomOff);
    click();
    click();
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 6u);
    EXPECT_EQ(posted[0].auxValue, posted[3].auxValue) << "the same static rectangle each time";
    EXPECT_NE(posted[0].auxValue, posted[1].auxValue) << "one for the time display, one for the FFT display";
}

TEST_F(ToolTest, TogglesFollowTheSetupAtTheRelease)
{
    struct Case {
        Tool::TParameter param;
        int32_t code;
        int16_t database::*field;
    } cases[] = {
        {Tool::RunStop, 3, &database::acqRunStop},
        {Tool::BusDiag, 196, &database::busDiag},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        tool_->setParam(c.param);
        tool_->setValue(99);  // not used by a toggle
        for (int16_t now : {0, 1, 2}) {
            data.*c.field = now;
            click();
            auto posted = takeRequests();
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].code, c.code);
            EXPECT_EQ(posted[0].intValue, now == 0 ? 1 : 0) << now;
        }
        // Two clicks the controller did not apply in between post the same value twice.
        data.*c.field = 0;
        click();
        click();
        auto posted = takeRequests();
        ASSERT_EQ(posted.size(), 2u);
        EXPECT_EQ(posted[0].intValue, 1);
        EXPECT_EQ(posted[1].intValue, 1);
    }
}

TEST_F(ToolTest, PressMovesTheButtonAndTheReleaseMovesItBack)
{
    tool_->setParam(Tool::ScopeMode);
    tool_->setValue(0x10);
    TClicks clicked(tool_);
    const QPointF at(40, 50);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QGuiApplication::sendEvent(window_.get(), &press);
    EXPECT_EQ(tool_->position(), QPointF(25, 35));
    EXPECT_TRUE(takeRequests().empty()) << "nothing is posted before the release";

    // Released away from the button: it still moves back, posts and tells QML.
    const QPointF away(180, 180);
    QMouseEvent release(QEvent::MouseButtonRelease, away, away, away, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QGuiApplication::sendEvent(window_.get(), &release);
    EXPECT_EQ(tool_->position(), QPointF(20, 30));
    EXPECT_EQ(clicked.count, 1);
    EXPECT_EQ(takeRequests().size(), 1u);
}

TEST_F(ToolTest, OtherButtonsDoNothing)
{
    tool_->setParam(Tool::ScopeMode);
    TClicks clicked(tool_);
    for (Qt::MouseButton b : {Qt::RightButton, Qt::MiddleButton}) {
        const QPointF at(40, 50);
        QMouseEvent press(QEvent::MouseButtonPress, at, at, at, b, b, Qt::NoModifier);
        QGuiApplication::sendEvent(window_.get(), &press);
        EXPECT_EQ(tool_->position(), QPointF(20, 30));
        QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, b, Qt::NoButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window_.get(), &release);
    }
    EXPECT_EQ(tool_->position(), QPointF(20, 30));
    EXPECT_EQ(clicked.count, 0);
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(ToolTest, LostPressRestoresTheLookWithoutPosting)
{
    tool_->setParam(Tool::ScopeMode);
    const QPointF at(40, 50);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QGuiApplication::sendEvent(window_.get(), &press);
    ASSERT_EQ(tool_->position(), QPointF(25, 35));
    tool_->ungrabMouse();
    EXPECT_EQ(tool_->position(), QPointF(20, 30));
    EXPECT_TRUE(takeRequests().empty());
}

TEST_F(ToolTest, PaintDrawsTheBitmapOverTheWholeItem)
{
    // images/home.png is 84 x 84: its middle pixel (the door) lands in the middle of any size.
    tool_->setSource(QStringLiteral("images/home.png"));
    EXPECT_EQ(tool_->source(), QStringLiteral("images/home.png"));
    const QImage bitmap(QStringLiteral(":/images/home.png"));
    ASSERT_EQ(bitmap.size(), QSize(84, 84));
    for (QSize size : {QSize(42, 42), QSize(84, 84)}) {
        QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        tool_->setSize(size);
        QPainter painter(&canvas);
        tool_->paint(&painter);
        painter.end();
        // Corners are the bitmap's transparent corners; the frame and the door are drawn.
        EXPECT_EQ(qAlpha(canvas.pixel(0, 0)), 0);
        const QRgb middle = canvas.pixel(size.width() / 2, size.height() * 58 / 84);
        EXPECT_NEAR(qRed(middle), qRed(bitmap.pixel(42, 58)), 24) << size.width();
        EXPECT_GT(qAlpha(canvas.pixel(size.width() / 2, size.height() / 42)), 128) << "the tile's top frame";
    }
}

TEST_F(ToolTest, MissingSourceDrawsNothingButStillWorks)
{
    tool_->setSource(QStringLiteral("images/no-such-icon.png"));
    QImage canvas(42, 42, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    tool_->paint(&painter);
    painter.end();
    for (int y = 0; y < 42; ++y)
        for (int x = 0; x < 42; ++x)
            ASSERT_EQ(canvas.pixel(x, y), 0u) << x << "," << y;

    tool_->setParam(Tool::Help);
    tool_->setValue(1);
    TClicks clicked(tool_);
    click();
    EXPECT_EQ(clicked.count, 1);
    EXPECT_EQ(takeRequests().size(), 1u);
}

// ---- QML wrappers

class ToolQmlTest : public SimBoardTest {
protected:
    void TearDown() override
    {
        window_.reset();
        delete engine_;
        SimBoardTest::TearDown();
    }

    QQuickItem* create(const QByteArray& qml)
    {
        engine_ = new QQmlEngine();
        QQmlComponent component(engine_);
        component.setData(qml, QUrl(QStringLiteral("qrc:/test.qml")));
        QObject* object = component.create();
        if (!object) {
            ADD_FAILURE() << component.errorString().toStdString();
            return nullptr;
        }
        window_ = std::make_unique<QQuickWindow>();
        window_->resize(400, 100);
        auto* item = qobject_cast<QQuickItem*>(object);
        item->setParentItem(window_->contentItem());
        window_->show();
        processEventsUntil([this] { return window_->isExposed(); });
        return item;
    }

    TQmlWarningWatch warnings_;
    QQmlEngine* engine_ = nullptr;
    std::unique_ptr<QQuickWindow> window_;
};

TEST_F(ToolQmlTest, ToolIsA42PixelButtonWithAnOptionalLabel)
{
    QQuickItem* root = create("import QtQuick 2.11\n"
                              "Item {\n"
                              "  Tool { objectName: 'plain'; source: 'images/scope.png'; param: 'ScopeMode'; value: 0x10 }\n"
                              "  Tool { objectName: 'labelled'; x: 100; label: 'Oscilloscope' }\n"
                              "}\n");
    ASSERT_NE(root, nullptr);
    auto* plain = qobject_cast<Tool*>(findItem(root, QStringLiteral("plain")));
    auto* labelled = qobject_cast<Tool*>(findItem(root, QStringLiteral("labelled")));
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(labelled, nullptr);
    EXPECT_EQ(plain->size(), QSizeF(42, 42));
    EXPECT_EQ(plain->param(), Tool::ScopeMode);
    EXPECT_EQ(plain->value(), 0x10);

    auto* label = labelled->childItems().value(0);
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->property("text").toString(), QStringLiteral("Oscilloscope"));
    EXPECT_EQ(label->property("color").value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(label->property("font").value<QFont>().pointSize(), 8);
    EXPECT_GE(label->y(), 42);
    EXPECT_FALSE(plain->childItems().value(0)->isVisible());
}

TEST_F(ToolQmlTest, OptionsFadeInAndAClickedOptionIsReported)
{
    QQuickItem* root = create("import QtQuick 2.11\n"
                              "ToolWithOptions {\n"
                              "  property var clicked: []\n"
                              "  source: 'images/scope.png'\n"
                              "  options: [ { source: 'images/meter.png', param: 'NotDefined', value: 2 },\n"
                              "             { source: 'images/bus.png', param: 'MeterMeasType', value: 9 } ]\n"
                              "  onToolWithOptionsClicked: clicked = clicked.concat([value])\n"
                              "}\n");
    ASSERT_NE(root, nullptr);
    QQuickItem* row = findItem(root, QStringLiteral("optionsRow"));
    QQuickItem* button = findItem(root, QStringLiteral("optionsButton"));
    ASSERT_NE(row, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(row->opacity(), 0.0);
    EXPECT_FALSE(row->isEnabled());
    takeRequests();

    clickItem(*button);
    EXPECT_TRUE(row->isEnabled());
    EXPECT_LT(row->opacity(), 1.0) << "appears at once instead of fading in";
    ASSERT_TRUE(processEventsUntil([&] { return row->opacity() == 1.0; }));
    EXPECT_TRUE(takeRequests().empty());

    QQuickItem* second = findItem(root, QStringLiteral("option1"));
    ASSERT_NE(second, nullptr);
    clickItem(*second);
    EXPECT_EQ(root->property("clicked").toList(), QVariantList{9});
    auto posted = takeRequests();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].code, 151);
    EXPECT_EQ(posted[0].intValue, 9);
    EXPECT_FALSE(row->isEnabled());
}
