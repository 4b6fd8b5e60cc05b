// flashnote: the screen shown while new firmware is installed. Reads and writes nothing.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include <cstdio>
#include <memory>
#include <strings.h>

int main(int argc, char** argv)
{
    if (argc == 2 && ::strcasecmp(argv[1], "-V") == 0) {
        std::printf("1.02\n");
        return 0;
    }
    int result;
    {
        auto app = std::make_unique<QGuiApplication>(argc, argv);
        auto engine = std::make_unique<QQmlApplicationEngine>();
        engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        result = app->exec();
        engine.reset();  // the engine goes before the application
    }
    return result;
}
