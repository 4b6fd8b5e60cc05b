// Helpers of the QML control and keyboard tests: documents built around the program's controls
// under a stand-in root window, or under the program's own root, and key clicks.
#pragma once

#include "tests/ui/support/homescreen.h"

#include <QQmlContext>
#include <QQuickWindow>
#include <QStringList>

// A stand-in for the root window: the keyboard signals, the message signal and a function check
// whose answer the test chooses; every call lands in `log`, one line each.
inline QByteArray standInRoot(const char* body)
{
    QByteArray doc = R"(
import QtQuick 2.0
import QtQuick.Window 2.1
Window {
    id: homeView
    width: 800
    height: 480
    signal sigOpenNumKey(double value, double min, double max, int dec)
    signal sigOpenFctKey(string value)
    signal sigOpenAlphaKey(string value, int length)
    signal sigCloseNumKey(double value)
    signal sigCloseFctKey(string value)
    signal sigCloseAlphaKey(string value)
    signal screenMessageSignal(int code, string text)
    property bool functionValid: true
    property string log: ""
    function note(line) { log += line + "\n" }
    function verifyFunctionValidity(text) { note("verify " + text); return functionValid }
    onSigOpenNumKey: note("openNum " + value + " " + min + " " + max + " " + dec)
    onSigOpenAlphaKey: note("openAlpha " + value + " " + length)
    onSigCloseNumKey: note("closeNum " + value)
    onSigCloseFctKey: note("closeFct " + value)
    onSigCloseAlphaKey: note("closeAlpha " + value)
    onScreenMessageSignal: note("message " + code + " '" + text + "'")
)";
    doc += body;
    doc += "\n}\n";
    return doc;
}

// The log of a stand-in root, one entry per line; cleared after reading.
inline QStringList takeLog(QObject* root)
{
    QStringList lines = root->property("log").toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    root->setProperty("log", QString());
    return lines;
}

// The item of that objectName under the item; the test fails when it is missing.
inline QQuickItem* need(QQuickItem* under, const char* name)
{
    QQuickItem* found = under ? findItem(under, QString::fromLatin1(name)) : nullptr;
    if (!found)
        ADD_FAILURE() << "no item " << name;
    return found;
}

// Clicks the item of that objectName under the item.
inline void clickKey(QQuickItem* under, const char* name)
{
    if (QQuickItem* key = need(under, name))
        clickItem(*key);
}

// Clicks the keys one after the other.
inline void clickKeys(QQuickItem* under, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        clickKey(under, name);
}

// Runs a function of a QML object and gives its result.
inline QVariant callQml(QObject* object, const char* function, const QVariant& a = QVariant(),
                        const QVariant& b = QVariant())
{
    QVariant result;
    bool ok = false;
    if (!b.isValid() && !a.isValid())
        ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result));
    else if (!b.isValid())
        ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a));
    else
        ok = QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a),
                                       Q_ARG(QVariant, b));
    if (!ok)
        ADD_FAILURE() << "cannot call " << function;
    return result;
}

// A document built around controls under a stand-in root window, shown on the test display.
class QmlControlsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        delete root_;
        delete engine_;
    }

    // Creates the stand-in root with the body; the test fails when it cannot.
    QQuickWindow* load(const char* body)
    {
        engine_ = new QQmlEngine();
        QQmlComponent component(engine_);
        // Under qrc:/ so that the program's controls are found by name.
        component.setData(standInRoot(body), QUrl(QStringLiteral("qrc:/StandInRoot.qml")));
        root_ = component.create();
        window_ = qobject_cast<QQuickWindow*>(root_);
        if (!window_) {
            ADD_FAILURE() << component.errorString().toStdString();
            return nullptr;
        }
        window_->show();
        if (!processEventsUntil([this] { return window_->isExposed(); }))
            ADD_FAILURE() << "the window never showed";
        return window_;
    }

    QQuickItem* item(const char* name) { return need(window_->contentItem(), name); }

    TQmlWarningWatch warnings_;
    QQmlEngine* engine_ = nullptr;
    QObject* root_ = nullptr;
    QQuickWindow* window_ = nullptr;
};
