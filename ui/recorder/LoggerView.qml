import QtQuick 2.11
import com.brovak.scope 1.0

// The recorder: the recorder boxes across the top, the compressed strip of the whole record under
// them, the main display down to the dialog panel, the tool column on the left, the save panel as
// a strip above the status line, and the recorder's status line at the bottom. Recording runs
// while the recorder panel exists.
LoggerView_ {
    id: loggerView
    objectName: "loggerView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    property int toolBarWidth: 70
    readonly property int statusLineHeight: 35
    readonly property int contentWidth: width - toolBarWidth
    // The recorder panel's height while the full-screen display hides it.
    property real savedPanelHeight: 0
    property bool collapsed: false

    function markLeaving() {
        leaving = true
        loggerView.screenRazSlot()
    }

    // The notice comes again with an unchanged flag: only a change collapses or restores.
    onDisplayFullScreenChanged: {
        if (displayFullScreen && !collapsed) {
            collapsed = true
            toolBarWidth = 0
            savedPanelHeight = loggerPanel.height
            loggerPanel.height = 0
        } else if (!displayFullScreen && collapsed) {
            collapsed = false
            toolBarWidth = 70
            loggerPanel.height = savedPanelHeight
        }
    }

    Component.onCompleted: {
        homeView.screenRazSignal.connect(loggerView.markLeaving)
        loggerPanel.setLayout()
    }
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(loggerView.markLeaving)
        // A view that goes with the window asks for nothing.
        if (leaving)
            homeView.childKilled()
    }

    Rectangle {
        objectName: "background"
        anchors.fill: parent
        color: "black"
        opacity: 0
        NumberAnimation on opacity {
            to: 1
            duration: 500
        }
    }

    // Touches stay on this view; the home screen under it takes none.
    MouseArea {
        anchors.fill: parent
    }

    LoggerPanel_ {
        id: loggerPanel
        objectName: "loggerPanel"
        x: loggerView.toolBarWidth
        y: 0
        width: loggerView.contentWidth
        visible: height > 0
        clip: true
        // The panel sets its own height when its boxes change: full screen keeps it hidden.
        onHeightChanged: {
            if (loggerView.collapsed && height > 0) {
                loggerView.savedPanelHeight = height
                height = 0
            }
        }
    }

    LoggerScreenComp_ {
        id: screenComp
        objectName: "loggerScreenComp"
        x: loggerView.toolBarWidth
        y: loggerPanel.y + loggerPanel.height
        width: loggerView.contentWidth
        height: 40
    }

    LoggerScreen_ {
        id: screen
        objectName: "loggerScreen"
        x: loggerView.toolBarWidth
        y: screenComp.y + screenComp.height
        width: loggerView.contentWidth
        height: Math.max(0, dialogPanel.y - y)
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: loggerView.toolBarWidth
        y: statusBar.y - height
        width: loggerView.contentWidth
        height: 0
        z: 2

        FileSave {
            id: fileSave
            objectName: "fileSave"
            saveTypes: FileSave_.Logger
            width: parent.width
            opacity: 0
            enabled: false
        }
    }

    LoggerToolPanel {
        id: toolPanel
        objectName: "toolPanel"
        x: 0
        y: 0
        width: loggerView.toolBarWidth
        height: statusBar.y
        visible: width > 0
        clip: true
        z: 3
        onDisplayFileSave: {
            if (fileSave.opacity === 0)
                dialogPanel.display(fileSave)
        }
    }

    Rectangle {
        id: statusBar
        x: 0
        y: loggerView.height - height
        width: loggerView.width
        height: loggerView.statusLineHeight
        color: "#1d2630"

        Image {
            objectName: "loggerIcon"
            x: 4
            y: 2
            width: 31
            height: 31
            smooth: true
            source: "images/ICONES_TAVLIN-02a.png"
        }
        LoggerStatusLine_ {
            id: statusLine
            objectName: "loggerStatusLine"
            x: 40
            width: parent.width - 40
            height: parent.height
            trigger: "..."
        }
    }
}
