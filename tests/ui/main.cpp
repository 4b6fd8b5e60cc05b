// Test main of the user-interface tests: a QGuiApplication (under the test display) with the
// module's types and resources registered as the program does.
#include "ui/qmltypes.h"

#include <QGuiApplication>
#include <clocale>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Listing the tests needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    Q_INIT_RESOURCE(ui);
    registerQmlTypes();
    QGuiApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}
