import QtQuick 2.11
import com.brovak.scope 1.0

// The recorded-file viewer: the channel boxes across the top, the compressed strip of the whole
// recording, the main display down to the dialog panel (event filter or event list), the tool
// column on the left and the viewer's status line at the bottom.
ViewerView_ {
    id: viewerView
    objectName: "viewerView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    property int toolBarWidth: 70
    readonly property int statusLineHeight: 35
    readonly property int contentWidth: width - toolBarWidth
    // The channel panel's height while the full-screen display hides it.
    property real savedPanelHeight: 112
    property bool collapsed: false

    function markLeaving() {
        leaving = true
        viewerView.screenRazSlot()
    }

    // The filter's description, the title of the list.
    function filterText() {
        var unit = eventFilter.verticalUnit
        var l1 = eventFilter.level1Value.toFixed(3) + " " + unit
        var l2 = eventFilter.level2Value.toFixed(3) + " " + unit
        var text = "CH" + (eventFilter.sourceIndex + 1)
        switch (eventFilter.typeIndex) {
        case 0: text += " < " + l1; break
        case 1: text += " > " + l1; break
        case 2: text += " < " + l1 + " ou " + " > " + l1; break
        case 3:
            var low = Math.min(eventFilter.level1Value, eventFilter.level2Value).toFixed(3) + " " + unit
            var high = Math.max(eventFilter.level1Value, eventFilter.level2Value).toFixed(3) + " " + unit
            text += " < " + low + " ou " + " > " + high
            break
        }
        return text + " : " + eventFilter.durationValue.toFixed(3) + " s"
    }

    onDisplayFullScreenChanged: {
        if (displayFullScreen && !collapsed) {
            collapsed = true
            toolBarWidth = 0
            savedPanelHeight = viewerPanel.height
            viewerPanel.height = 0
        } else if (!displayFullScreen && collapsed) {
            collapsed = false
            toolBarWidth = 70
            viewerPanel.height = savedPanelHeight
        }
    }
    onDataChanged: {
        eventFilter.dataChanged()
        eventFilter.counterChanged(n)
        eventList.filterText = filterText()
    }

    Component.onCompleted: {
        homeView.screenRazSignal.connect(viewerView.markLeaving)
        viewerPanel.setLayout()
    }
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(viewerView.markLeaving)
        if (leaving)
            homeView.childKilled()
    }

    Rectangle {
        objectName: "background"
        anchors.fill: parent
        color: "black"
    }

    // Touches stay on this view; the home screen under it takes none.
    MouseArea {
        anchors.fill: parent
    }

    ViewerPanel_ {
        id: viewerPanel
        objectName: "viewerPanel"
        x: viewerView.toolBarWidth
        y: 0
        width: viewerView.contentWidth
        visible: height > 0
        clip: true
        onHeightChanged: {
            if (viewerView.collapsed && height > 0) {
                viewerView.savedPanelHeight = height
                height = 0
            }
        }
    }

    ViewerScreenComp_ {
        id: screenComp
        objectName: "viewerScreenComp"
        x: viewerView.toolBarWidth
        y: viewerPanel.y + viewerPanel.height
        width: viewerView.contentWidth
        height: 40
    }

    ViewerScreen_ {
        id: screen
        objectName: "viewerScreen"
        x: viewerView.toolBarWidth
        y: screenComp.y + screenComp.height
        width: viewerView.contentWidth
        height: Math.max(0, dialogPanel.y - y)
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: viewerView.toolBarWidth
        y: statusBar.y - height
        width: viewerView.contentWidth
        height: 0
        z: 2

        ViewerEventFilter {
            id: eventFilter
            viewerView: viewerView
            width: parent.width
            opacity: 0
            enabled: false
            onShowList: dialogPanel.display(eventList)
        }
        ViewerEventList {
            id: eventList
            viewerView: viewerView
            width: parent.width
            opacity: 0
            enabled: false
        }
    }

    ViewerToolPanel {
        id: toolPanel
        objectName: "toolPanel"
        x: 0
        y: 0
        width: viewerView.toolBarWidth
        height: statusBar.y
        visible: width > 0
        clip: true
        z: 3
        onNextFile: viewerView.nextFile()
        onPreviousFile: viewerView.previousFile()
        onDisplayFilter: {
            if (eventFilter.opacity === 0)
                dialogPanel.display(eventFilter)
            viewerView.searchClicked()
        }
    }

    Rectangle {
        id: statusBar
        x: 0
        y: viewerView.height - height
        width: viewerView.width
        height: viewerView.statusLineHeight
        color: "#1d2630"

        Image {
            objectName: "viewerIcon"
            x: 4
            y: 2
            width: 31
            height: 31
            smooth: true
            source: "images/viewer_icon.png"
        }
        ViewerStatusLine_ {
            id: statusLine
            objectName: "viewerStatusLine"
            x: 40
            width: parent.width - 40
            height: parent.height
        }
    }
}
