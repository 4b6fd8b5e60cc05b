import QtQuick 2.0

// Light-grey rounded panel with its title in a white label on the top edge. Touching the panel
// takes the focus, which closes any open drop-down list.
Rectangle {
    id: groupBox
    property string groupBoxTitle: ""
    property bool titleDisplay: true
    property color borderColor: "#404040"

    width: 150
    height: 100
    radius: 10
    color: "#d8d8d8"
    border.color: borderColor
    border.width: 3

    MouseArea {
        anchors.fill: parent
        onPressed: groupBox.forceActiveFocus()
    }

    Rectangle {
        id: titleLabel
        objectName: "groupBoxTitle"
        visible: groupBox.titleDisplay
        width: titleText.width + 20
        height: 25
        radius: 10
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.verticalCenter: parent.top
        color: "white"
        border.color: groupBox.borderColor
        border.width: 1
        z: 1

        Text {
            id: titleText
            anchors.centerIn: parent
            font.pointSize: 12
            color: "black"
            text: groupBox.groupBoxTitle
        }

        MouseArea {
            anchors.fill: parent
            onPressed: groupBox.forceActiveFocus()
        }
    }
}
