import QtQuick 2.11
import com.brovak.scope 1.0

// Field-bus analysis: tool bar on the left, the scope's channel and time-base boxes across the
// top, the main screen with the bus signal, the dialog panel (file selection, limits, results)
// as a strip above the status line, and the bus status line at the bottom.
BusAnalysisView_ {
    id: busView
    objectName: "busAnalysisView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    readonly property int toolBarWidth: 70
    readonly property int tuningBarHeight: 75
    readonly property int statusLineHeight: 40
    readonly property int contentWidth: width - toolBarWidth

    function markLeaving() {
        leaving = true
        busView.screenRazSlot()
    }

    // Shows the panel; one already shown is shown again, so that it reads its data anew.
    function open(panel) {
        if (panel.opacity !== 0)
            dialogPanel.displayOff()
        dialogPanel.display(panel)
    }

    onDirectCmdeToIhmChanged: {
        if (directCmdeToIhm === 4)
            open(selectionPanel)
        else if (directCmdeToIhm === 5)
            open(resultsPanel)
    }
    onCloseDialog: dialogPanel.displayOff()

    Component.onCompleted: homeView.screenRazSignal.connect(busView.markLeaving)
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(busView.markLeaving)
        // A view that goes with the window asks for nothing.
        if (leaving)
            homeView.childKilled()
    }

    Rectangle {
        anchors.fill: parent
        color: "#101418"
    }

    // Touches stay on this view; the home screen under it takes none.
    MouseArea {
        anchors.fill: parent
    }

    ScopeScreen_ {
        id: mainScreen
        objectName: "mainScreen"
        x: busView.toolBarWidth
        y: busView.tuningBarHeight
        width: busView.contentWidth
        height: Math.max(0, dialogPanel.y - y)
    }

    // The boxes show the bus file's setup; the settings come from the file, not from here.
    ScopeTuningPanel {
        id: tuningPanel
        objectName: "tuningPanel"
        x: busView.toolBarWidth
        y: 0
        width: busView.contentWidth
        height: busView.tuningBarHeight
        clip: true
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: busView.toolBarWidth
        y: statusBar.y - height
        width: busView.contentWidth
        height: 0
        z: 2

        BusSelection {
            id: selectionPanel
            objectName: "selectionPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        BusLimits {
            id: limitsPanel
            objectName: "limitsPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        BusResults {
            id: resultsPanel
            objectName: "resultsPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
    }

    Rectangle {
        id: toolBar
        objectName: "toolPanel"
        x: 0
        y: 0
        width: busView.toolBarWidth
        height: statusBar.y
        color: "#1d2630"

        Column {
            x: 11
            y: 8
            spacing: 10

            Tool {
                objectName: "homeTool"
                width: 48
                height: 48
                source: "images/home.png"
                param: "ScopeMode"
                value: 0x8000
            }
            Tool {
                objectName: "busSelectTool"
                width: 48
                height: 48
                source: "images/busSelect.png"
                onToolClicked: dialogPanel.display(selectionPanel)
            }
            Tool {
                objectName: "busLimitsTool"
                width: 48
                height: 48
                source: "images/busLimits.png"
                onToolClicked: dialogPanel.display(limitsPanel)
            }
            Tool {
                objectName: "busDiagTool"
                width: 48
                height: 48
                source: "images/busDiag.png"
                param: "BusDiag"
            }
            Tool {
                objectName: "busResultsTool"
                width: 48
                height: 48
                source: "images/busResults.png"
                onToolClicked: dialogPanel.display(resultsPanel)
            }
            Tool {
                objectName: "helpTool"
                width: 48
                height: 48
                source: "images/help.png"
                param: "Help"
                value: 1
            }
        }
    }

    Rectangle {
        id: statusBar
        x: 0
        y: busView.height - height
        width: busView.width
        height: busView.statusLineHeight
        color: "#1d2630"

        Image {
            objectName: "busIcon"
            x: 4
            y: 4
            width: 32
            height: 32
            smooth: true
            source: "images/ICONES_TAVLIN-05a.png"
        }
        BusAnalysisStatusLine_ {
            id: statusLine
            objectName: "statusLine"
            x: 40
            width: parent.width - 40
            height: parent.height
            trigger: "..."
        }
    }
}
