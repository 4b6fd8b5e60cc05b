import QtQuick 2.11
import com.brovak.scope 1.0

// Results of the last diagnosis: bus title, date and quality picture, the measurements two a
// line (name, value in its verdict colour, limits, error), the hints to check, and the copy of
// the report under a name of the user's.
BusResults_ {
    id: results
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property var header: ["", "", "", ""]
    property var rows: []
    property var hints: []
    property bool editingName: false

    width: 730
    height: 330

    function refresh() {
        header = getBusTitle()
        var list = []
        for (var i = 0; ; ++i) {
            var row = getBusAnalysisResult(i)
            if (row.length === 0)
                break
            list.push(row)
        }
        rows = list
        hints = getBusAnalysisMessages()
        nameField.stringValue = filename
    }
    function qualityPicture(colour) {
        if (colour === "red")
            return "images/ICONES_TAVLIN-100.png"
        if (colour === "yellow")
            return "images/ICONES_TAVLIN-101.png"
        return "images/ICONES_TAVLIN-102.png"
    }
    function cell(row, i) {
        return i < row.length ? row[i] : ""
    }
    // The report's verdict classes as light tints, so that the black value text reads on them.
    function verdictColour(name) {
        if (name === "green")
            return "#8fd88f"
        if (name === "yellow")
            return "#f3dc6a"
        if (name === "red")
            return "#f08a8a"
        return "#d8d8d8"
    }

    onDataChanged: refresh()

    Connections {
        target: results.rootWindow
        function onSigCloseAlphaKey(value) {
            if (results.editingName) {
                results.filename = value
                nameField.stringValue = value
            }
            results.editingName = false
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    MyLabel {
        objectName: "resultsTitle"
        x: 8
        y: 6
        text: qsTr("Resultat de l'analyse")
    }
    Text {
        objectName: "busTitle"
        x: 250
        y: 4
        width: 340
        elide: Text.ElideRight
        textFormat: Text.PlainText
        color: "white"
        font.bold: true
        font.pointSize: 11
        text: results.header[0]
    }
    Text {
        objectName: "busDate"
        x: 250
        y: 26
        width: 340
        textFormat: Text.PlainText
        color: "white"
        font.pointSize: 9
        text: results.header[1]
    }
    Image {
        objectName: "qualityPicture"
        x: 640
        y: 2
        width: 40
        height: 40
        smooth: true
        source: results.qualityPicture(results.header[3])
    }
    Text {
        objectName: "qualityText"
        x: 600
        y: 44
        width: 120
        horizontalAlignment: Text.AlignHCenter
        textFormat: Text.PlainText
        color: "white"
        font.pointSize: 9
        text: results.header[2]
    }

    Flickable {
        objectName: "resultTable"
        x: 8
        y: 60
        width: 714
        height: 150
        clip: true
        contentHeight: table.height
        boundsBehavior: Flickable.StopAtBounds

        Grid {
            id: table
            columns: 2
            columnSpacing: 6
            rowSpacing: 2
            Repeater {
                model: results.rows
                Row {
                    objectName: "resultRow" + index
                    spacing: 2
                    property var texts: modelData
                    Repeater {
                        // name, value, minimum, maximum, error
                        model: [[0, 90], [3, 66], [1, 58], [2, 58], [5, 74]]
                        Rectangle {
                            width: modelData[1]
                            height: 22
                            color: modelData[0] === 3 ? results.verdictColour(results.cell(texts, 4)) : "#d8d8d8"
                            Text {
                                anchors.fill: parent
                                anchors.leftMargin: 3
                                verticalAlignment: Text.AlignVCenter
                                elide: Text.ElideRight
                                textFormat: Text.PlainText
                                font.pointSize: 8
                                font.bold: modelData[0] === 0
                                text: results.cell(texts, modelData[0])
                            }
                        }
                    }
                }
            }
        }
    }

    MyGroupBox {
        x: 8
        y: 216
        width: 440
        height: 108
        groupBoxTitle: qsTr("Points a verifier")

        Flickable {
            x: 8
            y: 22
            width: parent.width - 16
            height: parent.height - 28
            clip: true
            contentHeight: hintColumn.height
            boundsBehavior: Flickable.StopAtBounds
            Column {
                id: hintColumn
                objectName: "hintList"
                Repeater {
                    model: results.hints
                    Text {
                        textFormat: Text.PlainText
                        font.pointSize: 9
                        text: modelData
                    }
                }
            }
        }
    }

    MyGroupBox {
        x: 456
        y: 216
        width: 266
        height: 108
        groupBoxTitle: qsTr("Sauvegarde en fichier")

        StringSelect {
            id: nameField
            objectName: "filenameField"
            x: 10
            y: 28
            width: 246
            height: 36
            rootWindow: results.rootWindow
            length: 28
            onValueClicked: results.editingName = true
        }
        MyButton {
            objectName: "saveTool"
            x: 10
            y: 74
            text: qsTr("Sauvegarder")
            onButtonClicked: results.fileWrite()
        }
    }
}
