import QtQuick 2.11
import com.brovak.scope 1.0

// Bus file selection panel: the built-in and user descriptors on the left (user files marked
// "*"), the title, comment and connection picture of the current one on the right. Touching a
// name selects it.
BusSelection_ {
    id: selection
    width: 730
    height: 330

    property var files: []

    onFileListChanged: files = getFileList()
    onDataChanged: picture.setImage(selection.image)

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    MyLabel {
        objectName: "selectionTitle"
        x: 8
        y: 2
        text: qsTr("Bus a analyser")
    }

    MyGroupBox {
        x: 8
        y: 50
        width: 300
        height: 272
        groupBoxTitle: qsTr("Configurations disponibles")

        Flickable {
            id: fileView
            objectName: "fileView"
            x: 8
            y: 22
            width: parent.width - 16
            height: parent.height - 30
            clip: true
            contentHeight: fileColumn.height
            boundsBehavior: Flickable.StopAtBounds

            Column {
                id: fileColumn
                width: fileView.width
                Repeater {
                    model: selection.files
                    Rectangle {
                        objectName: "fileRow" + index
                        property string fileName: modelData
                        width: fileColumn.width
                        height: 26
                        color: rowArea.pressed ? "#6c7f93" : (index % 2 ? "#e8e8e8" : "white")
                        Text {
                            x: 6
                            anchors.verticalCenter: parent.verticalCenter
                            textFormat: Text.PlainText
                            font.pointSize: 10
                            text: modelData
                        }
                        MouseArea {
                            id: rowArea
                            anchors.fill: parent
                            onClicked: selection.busSelectSignal(modelData)
                        }
                    }
                }
            }
        }
    }

    MyGroupBox {
        x: 318
        y: 50
        width: 404
        height: 100
        groupBoxTitle: qsTr("Configuration courante")

        Text {
            objectName: "busTitle"
            x: 10
            y: 20
            width: parent.width - 20
            wrapMode: Text.Wrap
            maximumLineCount: 2
            textFormat: Text.PlainText
            font.bold: true
            font.pointSize: 10
            text: selection.title
        }
        Text {
            objectName: "busComment"
            x: 10
            y: 58
            width: parent.width - 20
            height: 38
            wrapMode: Text.Wrap
            elide: Text.ElideRight
            textFormat: Text.PlainText
            font.pointSize: 9
            text: selection.comment
        }
    }

    MyGroupBox {
        x: 318
        y: 160
        width: 404
        height: 166
        groupBoxTitle: qsTr("Connexions")

        ImageFromPseudoFileSystem_ {
            id: picture
            objectName: "busPicture"
            x: 74
            y: 12
            width: 256
            height: 150
        }
    }
}
