// The root window, and the only way by which the controller reaches the screen. The controller
// calls the bridge methods from its own thread; each one only emits, so every notice reaches the
// items queued in the GUI thread. The window also serves the home screen: mode views, update
// offer, hand-over to the configuration program and the file manager, screenshots.
#pragma once

#include "core/homebridge.h"

#include <QQuickWindow>
#include <QString>
#include <atomic>
#include <chrono>

class QTimer;

class HomeView : public QQuickWindow, public THomeBridge {
    Q_OBJECT
    // Read in handlers only: scopeMode changes although it is declared constant, and the other
    // three are computed at each read.
    Q_PROPERTY(int scopeMode READ scopeMode CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)
    Q_PROPERTY(QString communicationIcon READ communicationIcon CONSTANT)
    Q_PROPERTY(QString ipAddress READ ipAddress CONSTANT)

public:
    // Mode word while no instrument view exists.
    static constexpr int kNoView = 0x8000;
    // Time between two refreshes of the controller's notices: 30 a second, every second frame
    // of the panel. A noisy picture costs the GUI thread several milliseconds to draw; more
    // pictures than this show the eye nothing new.
    static constexpr std::chrono::microseconds kDisplayFrame{33333};
    // Exit statuses with which the start-up scripts take over.
    static constexpr int kExitConfiguration = 2;
    static constexpr int kExitFileManager = 3;
    static constexpr int kExitPanel = 4;

    explicit HomeView(QWindow* parent = nullptr);
    ~HomeView() override;

    int scopeMode() const { return scopeMode_.load(); }
    QString build() const;
    QString communicationIcon() const;
    QString ipAddress() const;

    // Bridge: may run in any thread (screenMaj and screenRaz are QML invokables too, below).
    void screenRefresh() override;
    void screenMessage(int code, const char* text) override;
    void screenIhm(int code, int a, int b) override;
    void screenHardcopy(char* name) override;
    void screenKalvex() override;
    void screenManualMeasurement() override;
    void screenAutomaticMeasurement() override;
    void setBrandVisible(bool visible) override;
    void showWindow() override;
    void refreshConfig() override;

    // QML, GUI thread only (screenMaj and screenRaz: any thread).
    Q_INVOKABLE void childKilled();
    // Save the setup and end the process for the configuration program or the file manager;
    // never return.
    Q_INVOKABLE int launchConfig();
    Q_INVOKABLE int launchFileMan();
    Q_INVOKABLE void screenMaj(int parameter) override;
    // With no view, creates the view of the current mode; else asks the view to go, and its
    // destruction creates the next one. Decided in the GUI thread.
    Q_INVOKABLE void screenRaz() override;
    Q_INVOKABLE bool verifyFunctionValidity(const QString& expression);
    Q_INVOKABLE bool isUpdateAvailable();
    Q_INVOKABLE void setUpdateOk();
    Q_INVOKABLE bool isBrandVisible() const { return brandVisible_.load(); }
    // The QML file of the view that serves a mode word, empty when none does (0x8000 and
    // unknown words). Every scope mode gets the scope view, both meter modes the meter view.
    Q_INVOKABLE QString viewOfMode(int mode) const;

    // The screenshot's file name for a requested name (empty: the dated default).
    static QString screenshotFileName(const QString& name);

signals:
    void complete();
    void createInstrumentSignal();
    void displayBrandSignal(bool b_a_brandVisible);
    void displayKalvexSignal();
    void refreshAllowedSignal(bool allowed);
    void refreshConfigSignal();
    void screenAutomaticMeasurementSignal();
    void screenIhmSignal(int code, int a, int b);
    void screenMajSignal(int parameter);
    void screenManualMeasurementSignal();
    void screenMessageSignal(int code, const QString& text);
    void screenRazSignal();
    void screenRefreshSignal();
    void screenshotSignal(const QString& name);
    void refreshInfoToolSignal(bool b_a_displayIcon);

public slots:
    void refreshAllowedSlot(bool allowed);
    void screenshotSlot(const QString& name);
    void refreshSlot();

private:
    // Runs f at once in the GUI thread, else queues it there.
    template <typename F>
    void inGuiThread(F f);
    [[noreturn]] void saveSetupAndEnd(int status);
    // The queued refresh of the controller's notices, at most one a display frame.
    void deliverRefresh();

    std::atomic<bool> refreshAllowed_{true};
    // A refresh is queued or waiting for its frame: later notices join it.
    std::atomic<bool> refreshQueued_{false};
    // When the next refresh is due (GUI thread only).
    std::chrono::steady_clock::time_point nextRefreshDue_{};
    std::atomic<int> scopeMode_{kNoView};
    // Mode-change notices sent (high half) and the mode the last one named (low half).
    std::atomic<uint64_t> lastNotice_{kNoView};
    // Of the current view (GUI thread): the notices sent before it was made, and whether its
    // mode was one the last of them did not name yet.
    uint32_t viewMadeAfter_ = 0;
    bool viewAhead_ = false;
    std::atomic<bool> brandVisible_{false};
    QTimer* refreshTimer_ = nullptr;
    // Compared by handle: asking another thread for its QThread would create one there.
    const Qt::HANDLE guiThread_;
};

// The root window, set once by main before the bridge pointer; null before.
extern HomeView* po_g_homeView;
