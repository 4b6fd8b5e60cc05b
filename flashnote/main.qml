import QtQuick 2.1
import QtQuick.Window 2.2

Window {
    visible: true
    width: 800
    height: 480

    Rectangle {
        objectName: "background"
        anchors.fill: parent
        color: "white"

        SequentialAnimation on color {
            objectName: "fading"
            loops: Animation.Infinite
            ColorAnimation { from: "white"; to: "yellow"; duration: 2000 }
            ColorAnimation { from: "yellow"; to: "white"; duration: 2000 }
        }
    }

    Text {
        objectName: "notice"
        anchors.centerIn: parent
        text: qsTr("update running...")
        font.family: "Sans Serif"
        font.pointSize: 24
        font.bold: true
    }
}
