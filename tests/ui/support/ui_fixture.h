// Shared pieces of the item tests: the controller's box emptied, overlay items painted in overlay
// units, and a fixture with a HomeView installed as the program's on a simulated board.
#pragma once

#include "core/gest_db.h"
#include "core/requests.h"
#include "tests/support/simboardtest.h"
#include "ui/frame/homeview.h"

#include <QImage>
#include <QPainter>

#include <cstring>
#include <memory>
#include <vector>

namespace uitest {

// The requests waiting in the controller's box, oldest first, leaving it empty.
inline std::vector<pipe_dial> takeRequests()
{
    std::vector<pipe_dial> out;
    pipe_dial r{};
    while (!o_g_consMessageBox.empty() && o_g_consMessageBox.receive(&r, true, 1) == 0)
        out.push_back(r);
    return out;
}

// Overlay painter: 1000 x 1000 units on a 1000 x 1000 image, transparent background.
template <typename T>
QImage paintOverlay(T& item)
{
    QImage image(1000, 1000, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setWindow(0, 0, 1000, 1000);
    item.paint(painter);
    return image;
}

// The initial setup, adjusted by adjustSetup(), then a HomeView installed as the program's; the
// controller's box is emptied after the set-up and after the tear-down.
class HomeViewTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        std::memcpy(&data, &init_par, sizeof data);
        adjustSetup();
        home_ = std::make_unique<HomeView>();
        po_g_homeView = home_.get();
        takeRequests();
    }
    void TearDown() override
    {
        po_g_homeView = nullptr;
        home_.reset();
        takeRequests();
        SimBoardTest::TearDown();
    }

    // Changes to the initial setup the HomeView is built with.
    virtual void adjustSetup() {}

    std::unique_ptr<HomeView> home_;
};

} // namespace uitest
