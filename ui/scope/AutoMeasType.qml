import QtQuick 2.11
import com.brovak.scope 1.0

// Table of the 20 automatic measurements of the four channels, in the dialog panel.
Rectangle {
    id: box
    objectName: "autoMeasType"
    width: parent ? parent.width : 730
    height: 125
    color: "white"
    radius: 10

    // Presses outside the table stay here instead of reaching the root window.
    MouseArea {
        anchors.fill: parent
        onPressed: box.forceActiveFocus()
    }

    Image {
        id: handle
        objectName: "autoMeasTypeHandle"
        x: 5
        anchors.verticalCenter: parent.verticalCenter
        width: 50
        height: 50
        source: "images/drag-vertical.png"
    }

    Text {
        id: title
        objectName: "autoMeasTypeTitle"
        anchors.left: table.left
        y: 2
        font.pointSize: 10
        font.bold: true
        text: qsTr("Mesures") + " (" + qsTr(" entre T1 et T2") + ")"
    }

    Image {
        objectName: "autoMeasTypeClose"
        anchors.right: parent.right
        anchors.rightMargin: 5
        y: 2
        width: 20
        height: 20
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: dialogPanel.displayOff()
        }
    }

    AutomeasType_ {
        id: table
        objectName: "automeasType"
        anchors.left: handle.right
        anchors.leftMargin: 5
        anchors.right: parent.right
        anchors.rightMargin: 30
        y: 22
        height: parent.height - 24
        opacity: box.opacity
        clip: true
    }
}
