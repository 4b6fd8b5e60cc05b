import QtQuick 2.11

// Stands for a settings panel of the scope view until that panel is built: a strip of the
// dialog panel with the panel's title and the close cross.
Rectangle {
    id: panel
    property string title: ""

    height: 105
    color: "#1d2630"
    border.color: "#6c7f93"
    radius: 6

    // Touches stay on the panel.
    MouseArea {
        anchors.fill: parent
    }

    Text {
        objectName: "panelTitle"
        x: 16
        y: 10
        color: "white"
        font.pointSize: 14
        text: panel.title
    }

    Image {
        objectName: "closeCross"
        anchors.right: parent.right
        anchors.rightMargin: 8
        y: 8
        width: 32
        height: 32
        smooth: true
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: dialogPanel.displayOff()
        }
    }
}
