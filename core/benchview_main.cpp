// Placeholder program until the controller and the root window exist: resolves and seeds the
// simulated board, then shows an empty window.
#include "board/board.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <clocale>
#include <cstdio>
#include <strings.h>

namespace {
class TEmptyWindow : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(QRect(QPoint(0, 0), size()), Qt::black);
    }
};
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcasecmp(argv[1], "-V") == 0) {
        std::printf("1.12\n");
        return 0;
    }
    if (!resolveBoardRoot()) {
        std::fprintf(stderr, "benchview: cannot create the simulated-board root\n");
        return 1;
    }
    seedBoardRoot();

    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    TEmptyWindow window;
    window.setTitle("benchview");
    window.resize(800, 480);
    window.show();
    return app.exec();
}
