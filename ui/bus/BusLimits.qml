import QtQuick 2.11
import com.brovak.scope 1.0

// Limit editor: the measurements of the selected bus file, two a line, with their minimum,
// maximum and warning (touch one to type it), then the bus title and the name under which a
// change is saved when the panel closes.
BusLimits_ {
    id: limits
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // The item whose value the numeric keyboard edits, -1 when none; the text keyboard's field.
    property int editedItem: -1
    property bool editingName: false
    readonly property int tableHeight: 170

    width: 730
    height: 250
    fillColor: "#d8d8d8"

    onFilenameChanged: nameField.stringValue = filename

    Connections {
        target: limits.rootWindow
        function onSigCloseNumKey(value) {
            if (limits.editedItem !== -1)
                limits.setValue(limits.editedItem, value)
            limits.editedItem = -1
        }
        function onSigCloseAlphaKey(value) {
            if (limits.editingName)
                limits.filename = value
            limits.editingName = false
        }
    }

    MouseArea {
        objectName: "limitTable"
        x: 0
        y: 0
        width: parent.width
        height: limits.tableHeight
        onClicked: {
            var i = limits.getClickedItem(mouse.x, mouse.y)
            if (i === -1)
                return
            limits.editedItem = i
            limits.rootWindow.sigOpenNumKey(limits.getValue(i), -100, 100, 2)
        }
    }

    Rectangle {
        x: 0
        y: limits.tableHeight
        width: parent.width
        height: parent.height - y
        color: "#1d2630"

        MyLabel {
            objectName: "limitsTitle"
            x: 8
            y: 8
            text: qsTr("Tolerances de mesure")
        }
        Text {
            objectName: "busTitle"
            x: 250
            y: 12
            width: parent.width - 258
            elide: Text.ElideRight
            textFormat: Text.PlainText
            color: "white"
            font.bold: true
            font.pointSize: 10
            text: limits.title
        }
        Text {
            x: 8
            y: 48
            color: "white"
            font.pointSize: 10
            text: qsTr("Modifications enregistrees dans le fichier:")
        }
        StringSelect {
            id: nameField
            objectName: "filenameField"
            x: 330
            y: 38
            width: 300
            height: 36
            rootWindow: limits.rootWindow
            length: 28
            onValueClicked: limits.editingName = true
        }
    }
}
