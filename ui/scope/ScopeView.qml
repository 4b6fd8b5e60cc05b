import QtQuick 2.11
import com.brovak.scope 1.0

// The oscilloscope modes: tool bar on the left, channel and time-base boxes across the top, the
// overview under them when the display is zoomed or not a time display, the main screen, the
// dialog panel as a strip above the status line, and the status line at the bottom.
ScopeView_ {
    id: scopeView
    objectName: "scopeView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    readonly property int toolBarWidth: displayFullScreen ? 0 : 70
    readonly property int tuningBarHeight: displayFullScreen ? 0 : 75
    readonly property int statusLineHeight: 40
    readonly property int contentWidth: width - toolBarWidth

    // The item goes by itself on the notice when it found the root window at construction;
    // asking again is harmless and covers a root published later.
    function markLeaving() {
        leaving = true
        scopeView.screenRazSlot()
    }

    // Shows a panel unless it is already shown (the dialog panel would close it).
    function open(panel) {
        if (panel.opacity === 0)
            dialogPanel.display(panel)
    }

    function channelClicked(physicalChannels, identifier) {
        var shown = verticalPanel.setClickedChannel(identifier)
        if (shown !== 0 && (physicalChannels & (1 << identifier)) !== 0)
            open(verticalPanel)
        else
            dialogPanel.displayOff()
    }

    state: displayCompressedView ? "two_screens" : ""
    states: State {
        name: "two_screens"
        PropertyChanges {
            target: overview
            visible: true
            height: 40
        }
    }

    onDirectCmdeToIhmChanged: {
        if (directCmdeToIhm === 0)
            open(autoMeasChannel)
    }

    Component.onCompleted: homeView.screenRazSignal.connect(scopeView.markLeaving)
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(scopeView.markLeaving)
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

    ScopeScreenComp_ {
        id: overview
        objectName: "overview"
        x: scopeView.toolBarWidth
        y: scopeView.tuningBarHeight
        width: scopeView.contentWidth
        height: 0
        visible: false
    }

    ScopeScreen_ {
        id: mainScreen
        objectName: "mainScreen"
        x: scopeView.toolBarWidth
        y: overview.y + overview.height
        width: scopeView.contentWidth
        height: Math.max(0, dialogPanel.y - y)
    }

    ScopeTuningPanel {
        id: tuningPanel
        objectName: "tuningPanel"
        x: scopeView.toolBarWidth
        y: 0
        width: scopeView.contentWidth
        height: scopeView.tuningBarHeight
        visible: height > 0
        clip: true
        Component.onCompleted: {
            tuningPanel.channelClickedSignal.connect(scopeView.channelClicked)
            tuningPanel.timebaseClickedSignal.connect(function() {
                horizontalPanel.screenMajSlot()
                scopeView.open(horizontalPanel)
            })
        }
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: scopeView.toolBarWidth
        y: statusBar.y - height
        width: scopeView.contentWidth
        height: 0
        z: 2

        AutoMeasChannel {
            id: autoMeasChannel
            objectName: "measChannelPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        AutoMeasType {
            id: autoMeasType
            objectName: "measTypePanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        ScopeTrigger {
            id: triggerPanel
            objectName: "triggerPanel"
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
        ScopeHorizontal {
            id: horizontalPanel
            objectName: "horizontalPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        ScopeMath {
            id: mathPanel
            objectName: "mathPanel"
            width: parent.width
            opacity: 0
            enabled: false
        }
        PassFail {
            id: passFailPanel
            objectName: "passFailPanel"
            width: parent.width
            opacity: 0
            enabled: false
            onSaveMaskRequested: dialogPanel.display(maskSave)
            onLoadMaskRequested: dialogPanel.display(maskLoad)
        }
        FileSave {
            id: maskSave
            objectName: "maskSave"
            saveTypes: FileSave_.PassFail
            width: parent.width
            opacity: 0
            enabled: false
        }
        FileLoad {
            id: maskLoad
            objectName: "maskLoad"
            loadTypes: FileLoad_.PassFail
            width: parent.width
            opacity: 0
            enabled: false
            // The loaded mask replaces the one built from the source.
            onLoadSignal: passFailPanel.maskLoaded()
        }
        FileSave {
            id: fileSave
            objectName: "fileSave"
            saveTypes: FileSave_.Scope
            width: parent.width
            opacity: 0
            enabled: false
        }
    }

    ScopeToolPanel {
        id: toolPanel
        objectName: "toolPanel"
        x: 0
        y: 0
        width: scopeView.toolBarWidth
        height: statusBar.y
        visible: width > 0
        // The math options open over the screens.
        z: 3

        onMathClicked: {
            // Another function's panel stays open and shows the new one.
            var toggle = mathPanel.opacity === 0 || mathPanel.channel === channel
            mathPanel.channel = channel
            mathPanel.setClicked(channel)
            if (toggle)
                dialogPanel.display(mathPanel)
        }
        onPassFailClicked: dialogPanel.display(passFailPanel)
        onTriggerClicked: {
            dialogPanel.display(triggerPanel)
            if (triggerPanel.opacity !== 0)
                triggerPanel.setClicked()
        }
        onMeasTypeClicked: dialogPanel.display(autoMeasType)
        onMeasChannelClicked: dialogPanel.display(autoMeasChannel)
        onSaveClicked: dialogPanel.display(fileSave)
    }

    Rectangle {
        id: statusBar
        x: 0
        y: scopeView.height - height
        width: scopeView.width
        height: scopeView.statusLineHeight
        color: "#1d2630"

        Image {
            objectName: "scopeIcon"
            x: 4
            y: 4
            width: 32
            height: 32
            smooth: true
            source: "images/ICONES_TAVLIN-03.png"
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
