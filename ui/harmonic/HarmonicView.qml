import QtQuick 2.11
import com.brovak.scope 1.0

// The harmonic analyser: the channel boxes and the "Power" button across the top, the tool
// column on the left, the bar graph, the measurement table under it, the dialog panel as a strip
// above the status line, and the scope status line at the bottom.
HarmonicView_ {
    id: harmonicView
    objectName: "harmonicView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    readonly property int toolBarWidth: displayFullScreen ? 0 : 70
    readonly property int tuningBarHeight: displayFullScreen ? 0 : 75
    readonly property int statusLineHeight: 35
    readonly property int contentWidth: width - toolBarWidth

    function markLeaving() {
        leaving = true
        harmonicView.screenRazSlot()
    }

    function channelClicked(physicalChannels, identifier) {
        var shown = verticalPanel.setClickedChannel(identifier)
        if (shown !== 0 && (physicalChannels & (1 << identifier)) !== 0) {
            if (verticalPanel.opacity === 0)
                dialogPanel.display(verticalPanel)
        } else {
            dialogPanel.displayOff()
        }
    }

    Component.onCompleted: homeView.screenRazSignal.connect(harmonicView.markLeaving)
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(harmonicView.markLeaving)
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

    HarmonicTuningPanel {
        id: tuningPanel
        objectName: "tuningPanel"
        x: harmonicView.toolBarWidth
        y: 0
        width: harmonicView.contentWidth
        height: harmonicView.tuningBarHeight
        visible: height > 0
        clip: true
        onChannelClickedSignal: harmonicView.channelClicked(physicalChannels, identifier)
        onPowerClickedSignal: toolPanel.showPowerOptions()
    }

    HarmonicGridScreen_ {
        id: grid
        objectName: "harmonicGrid"
        x: harmonicView.toolBarWidth
        y: harmonicView.tuningBarHeight
        width: harmonicView.contentWidth
        height: Math.max(0, table.y - y)

        HarmonicScreen_ {
            id: bars
            objectName: "harmonicScreen"
            anchors.fill: parent
            Component.onCompleted: bars.init()
        }
    }

    HarmonicMeas {
        id: table
        objectName: "harmonicMeas"
        x: harmonicView.toolBarWidth
        y: statusBar.y - height
        width: harmonicView.contentWidth
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: harmonicView.toolBarWidth
        y: statusBar.y - height
        width: harmonicView.contentWidth
        height: 0
        z: 2

        FileSave {
            id: fileSave
            objectName: "fileSave"
            saveTypes: FileSave_.Harmonic
            width: parent.width
            opacity: 0
            enabled: false
        }
        ScopeVertical {
            id: verticalPanel
            objectName: "verticalPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
    }

    HarmonicToolPanel {
        id: toolPanel
        objectName: "toolPanel"
        x: 0
        y: 0
        width: harmonicView.toolBarWidth
        height: statusBar.y
        visible: width > 0
        // The options open over the screens.
        z: 3
        onDisplayFileSave: dialogPanel.display(fileSave)
    }

    Rectangle {
        id: statusBar
        x: 0
        y: harmonicView.height - height
        width: harmonicView.width
        height: harmonicView.statusLineHeight
        color: "#1d2630"

        Image {
            objectName: "harmonicIcon"
            x: 4
            y: 2
            width: 31
            height: 31
            smooth: true
            source: "images/harmonic.png"
        }
        ScopeStatusLine_ {
            id: statusLine
            objectName: "statusLine"
            x: 40
            width: parent.width - 40
            height: parent.height
            trigger: "..."
        }
    }
}
