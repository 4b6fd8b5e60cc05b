import QtQuick 2.0

// Round radio button followed by an optional image and its label, 5 pixels apart. A click toggles
// it; a radio box keeps its buttons exclusive.
Item {
    id: radioButton
    property int buttonSize: 14
    property string label: ""
    property string image: ""
    property bool checked: false
    signal clicked()

    width: row.width
    height: Math.max(buttonSize, row.height)

    Row {
        id: row
        spacing: 5
        anchors.verticalCenter: parent.verticalCenter

        Rectangle {
            width: radioButton.buttonSize
            height: radioButton.buttonSize
            radius: width / 2
            anchors.verticalCenter: parent.verticalCenter
            color: "white"
            border.color: "#404040"
            border.width: 1

            Rectangle {
                objectName: "radioDot"
                anchors.centerIn: parent
                width: radioButton.buttonSize - 8
                height: width
                radius: width / 2
                color: "black"
                visible: radioButton.checked
            }
        }
        Image {
            visible: radioButton.image !== ""
            anchors.verticalCenter: parent.verticalCenter
            source: radioButton.image
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            font.pointSize: 12
            color: "black"
            text: radioButton.label
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: {
            radioButton.checked = !radioButton.checked
            radioButton.clicked()
        }
    }
}
