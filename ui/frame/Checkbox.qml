import QtQuick 2.0

// Check box: a 20 x 20 image beside its text.
Item {
    id: checkbox
    property alias name: checkText.text
    property bool checked: false
    signal clicked()

    width: box.width + 5 + checkText.width
    height: Math.max(box.height, checkText.height)

    Image {
        id: box
        objectName: "checkboxImage"
        width: 20
        height: 20
        anchors.verticalCenter: parent.verticalCenter
        sourceSize: Qt.size(40, 40)
        source: checkbox.checked ? "images/checked.png" : "images/unchecked.png"
    }

    Text {
        id: checkText
        anchors.left: box.right
        anchors.leftMargin: 5
        anchors.verticalCenter: parent.verticalCenter
        font.pointSize: 12
        color: "black"
    }

    MouseArea {
        anchors.fill: parent
        onClicked: {
            checkbox.forceActiveFocus()
            checkbox.checked = !checkbox.checked
            checkbox.clicked()
        }
    }
}
