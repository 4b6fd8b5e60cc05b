import QtQuick 2.0

// Light-grey rounded label with bold text.
Rectangle {
    id: label
    property string text: ""

    width: labelText.width + 20
    height: labelText.height + 8
    radius: 8
    color: "#d8d8d8"
    border.color: "#404040"
    border.width: 1

    Text {
        id: labelText
        anchors.centerIn: parent
        font.pointSize: 15
        font.bold: true
        color: "black"
        text: label.text
    }
}
