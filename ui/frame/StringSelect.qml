import QtQuick 2.0

// A text in a rounded field; a click opens the text keyboard of the root window.
Item {
    id: stringSelect
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property string stringValue: ""
    property int length: 30
    signal valueClicked()

    width: 80
    height: 50

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: "white"
        border.color: "#404040"
        border.width: area.pressed ? 3 : 1

        Text {
            objectName: "stringText"
            anchors.fill: parent
            anchors.margins: 4
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            // A long file name shrinks to fit its field rather than lose its end.
            fontSizeMode: Text.HorizontalFit
            minimumPointSize: 7
            elide: Text.ElideRight
            font.pointSize: 12
            color: "black"
            text: stringSelect.stringValue
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: {
            stringSelect.forceActiveFocus()
            stringSelect.rootWindow.sigOpenAlphaKey(stringSelect.stringValue, stringSelect.length)
            stringSelect.valueClicked()
        }
    }
}
