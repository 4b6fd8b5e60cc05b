// The root window. The engine reaches it only through THomeBridge; every bridge call may come
// from any thread and only queues a signal emission into the GUI thread, except the panel
// request that saves the setup and ends the process.
#pragma once

#include "core/homebridge.h"

#include <QQuickWindow>
#include <QString>
#include <atomic>

class HomeView : public QQuickWindow, public THomeBridge {
    Q_OBJECT
    Q_PROPERTY(bool brandVisible READ brandVisible NOTIFY displayBrandSignal)

public:
    // Mode word of a root window that has no instrument view yet.
    static constexpr int kNoInstrument = 0x8000;

    explicit HomeView(QWindow* parent = nullptr);

    void screenMaj(int code) override;
    void screenRefresh() override;
    void screenRaz() override;
    void screenMessage(int number, const char* text) override;
    void screenIhm(int code, int a, int b) override;
    void screenHardcopy(char* name) override;
    void screenKalvex() override;
    void screenManualMeasurement() override;
    void screenAutomaticMeasurement() override;
    void setBrandVisible(bool visible) override;
    void showWindow() override;
    void refreshConfig() override;

    bool refreshAllowed() const { return refreshAllowed_.load(); }
    void setRefreshAllowed(bool allowed) { refreshAllowed_.store(allowed); }
    int modeWord() const { return modeWord_.load(); }
    void setModeWord(int mode) { modeWord_.store(mode); }
    bool brandVisible() const { return brandVisible_.load(); }

signals:
    void complete();
    void screenMajSignal(int code);
    void screenRefreshSignal();
    void screenRazSignal();
    void createInstrumentSignal();
    void screenMessageSignal(int number, const QString& text);
    void screenIhmSignal(int code, int a, int b);
    void screenshotSignal(const QString& name);
    void displayKalvexSignal();
    void screenManualMeasurementSignal();
    void screenAutomaticMeasurementSignal();
    void displayBrandSignal(bool visible);
    void refreshConfigSignal();

private:
    std::atomic<bool> refreshAllowed_{true};
    std::atomic<int> modeWord_{kNoInstrument};
    std::atomic<bool> brandVisible_{false};
};

// The root window, set once by main before the bridge pointer; null before.
extern HomeView* po_g_homeView;
