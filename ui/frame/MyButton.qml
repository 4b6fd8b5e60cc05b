import QtQuick 2.0

// Rounded push button; moves 3 pixels right and down while pressed.
Item {
    id: button
    property string text: "-"
    property string value: "-"
    signal buttonClicked()

    width: face.width
    height: 25

    Rectangle {
        id: face
        x: area.pressed ? 3 : 0
        y: area.pressed ? 3 : 0
        width: label.width + 20
        height: 25
        radius: 8
        color: "white"
        border.color: "#404040"
        border.width: 1

        Text {
            id: label
            anchors.centerIn: parent
            font.pointSize: 12
            color: "black"
            text: button.text
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: button.buttonClicked()
    }
}
