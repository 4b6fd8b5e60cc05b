import QtQuick 2.11
import com.brovak.scope 1.0

// The multimeter mode: the tool column on the left, the meter boxes, the save panel as a strip
// above the status line, and the meter's status line along the bottom.
MeterView_ {
    id: meterView
    objectName: "meterView"
    anchors.fill: parent
    // Set when the view goes for a mode change; only then does its end ask for the next view.
    property bool leaving: false
    readonly property int toolBarWidth: 70
    readonly property int statusLineHeight: 35

    function markLeaving() {
        leaving = true
        meterView.screenRazSlot()
    }

    Component.onCompleted: {
        homeView.screenRazSignal.connect(meterView.markLeaving)
        meterPanel.setLayout()
    }
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(meterView.markLeaving)
        // A view that goes with the window asks for nothing.
        if (leaving)
            homeView.childKilled()
    }

    Rectangle {
        anchors.fill: parent
        color: "black"
        opacity: 0
        Component.onCompleted: opacity = 1
        Behavior on opacity {
            NumberAnimation {
                duration: 500
            }
        }
    }

    // Touches stay on this view; the home screen under it takes none.
    MouseArea {
        width: 800
        height: 480
    }

    // A quiet background under the boxes.
    Rectangle {
        x: meterView.toolBarWidth
        y: 0
        width: meterView.width - meterView.toolBarWidth
        height: meterView.height - meterView.statusLineHeight
        color: "#141a21"
    }

    MeterPanel_ {
        id: meterPanel
        objectName: "meterPanel"
        // The boxes reach 720 pixels to the right of the panel's corner.
        x: meterView.toolBarWidth
        y: 5
        width: 680
        height: 430
    }

    DialogPanel_ {
        id: dialogPanel
        objectName: "dialogPanel"
        x: meterView.toolBarWidth
        y: statusBar.y - height
        width: meterView.width - meterView.toolBarWidth
        height: 0

        FileSave {
            id: fileSave
            objectName: "fileSave"
            saveTypes: FileSave_.Meter
            width: parent.width
            opacity: 0
        }
    }

    MeterToolPanel {
        id: toolPanel
        objectName: "toolPanel"
        x: 0
        y: 0
        width: meterView.toolBarWidth
        height: statusBar.y
        z: 1
        onDisplayFileSave: {
            if (fileSave.opacity === 0)
                dialogPanel.display(fileSave)
        }
    }

    Rectangle {
        id: statusBar
        x: 0
        y: meterView.height - height
        width: meterView.width
        height: meterView.statusLineHeight
        color: "#1d2630"

        MeterStatusLine_ {
            id: statusLine
            objectName: "meterStatusLine"
            x: 0
            width: parent.width - 40
            height: parent.height
            trigger: "..."
        }
        Image {
            objectName: "meterIcon"
            x: parent.width - 36
            y: 2
            width: 31
            height: 31
            smooth: true
            source: "images/ICONES_TAVLIN-23a.png"
        }
    }
}
