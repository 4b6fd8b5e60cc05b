import QtQuick 2.11
import com.brovak.scope 1.0

// The 20 automatic measurements of the reference channel, in the dialog panel.
Item {
    id: box
    objectName: "autoMeasChannelBox"
    width: parent ? parent.width : 700
    height: 105

    // Presses that miss the cells stay here instead of reaching the root window.
    MouseArea {
        anchors.fill: parent
        onPressed: box.forceActiveFocus()
    }

    AutoMeasChannel_ {
        id: meas
        objectName: "autoMeasChannel"
        anchors.fill: parent
        opacity: box.opacity
        clip: true
    }

    // The first row of cells starts 10 pixels down: the title sits in that strip.
    Text {
        objectName: "autoMeasChannelTitle"
        x: 10
        y: 0
        font.pixelSize: 11
        font.bold: true
        text: qsTr("Mesures sur ") + meas.title + " (" + qsTr(" entre T1 et T2") + ")"
    }

    Image {
        objectName: "autoMeasChannelClose"
        anchors.right: parent.right
        anchors.rightMargin: 4
        y: 0
        width: 16
        height: 16
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: dialogPanel.displayOff()
        }
    }
}
