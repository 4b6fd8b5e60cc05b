import QtQuick 2.11
import com.brovak.scope 1.0

// Save panel of a view's dialog panel: the kinds of file that fit the view, the proposed name
// and comment (typed on the root's text keyboard) and the save tool.
FileSave_ {
    id: fileSave
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // Codes of the kinds offered (setup 0, traces 1, math 2, harmonics 3, mask 4), in order.
    property var kindCodes: []
    // The field that opened the text keyboard ("filename", "comment"), empty when none did.
    property string keySource: ""
    readonly property int chosenKind: kindBox.currentIndex >= 0 && kindBox.currentIndex < kindCodes.length
                                      ? kindCodes[kindBox.currentIndex] : 0

    width: 800
    height: 110

    function kindsOf(type) {
        switch (type) {
        case FileSave_.Meter: return [0]
        case FileSave_.Harmonic: return [0, 3]
        case FileSave_.Logger: return [0]
        case FileSave_.PassFail: return [4]
        default: return [0, 1, 2]
        }
    }
    function kindName(code) {
        switch (code) {
        case 1: return qsTr("Traces")
        case 2: return qsTr("Fonction")
        case 3: return qsTr("Harmoniques")
        case 4: return qsTr("Masque")
        default: return qsTr("Configuration")
        }
    }
    // saveTypes gives no notice when QML writes it: the list is rebuilt at every opening.
    function refreshKinds() {
        var codes = kindsOf(saveTypes)
        var model = []
        for (var i = 0; i < codes.length; ++i)
            model.push({ txt: kindName(codes[i]) })
        kindCodes = codes
        kindBox.myListModel = model
        kindBox.currentIndex = 0
    }
    function prepare() {
        keySource = ""
        refreshKinds()
        setDefaultComment()
        setDefaultFilename()
    }

    Component.onCompleted: prepare()
    onEnabledChanged: {
        if (enabled)
            prepare()
    }
    onFilenameChanged: nameField.stringValue = filename
    onCommentChanged: commentField.stringValue = comment

    Connections {
        target: fileSave.rootWindow
        function onSigCloseAlphaKey(value) {
            if (fileSave.keySource === "filename") {
                fileSave.filename = value
                nameField.stringValue = value
            } else if (fileSave.keySource === "comment") {
                fileSave.comment = value
                commentField.stringValue = value
            }
            fileSave.keySource = ""
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    MyLabel {
        objectName: "saveTitle"
        x: 8
        y: 8
        text: qsTr("Sauvegarde")
    }
    // Closes the panel as its tool does.
    MyButton {
        objectName: "closeButton"
        x: fileSave.width - width - 8
        y: 8
        text: "\u00d7"
        onButtonClicked: if (fileSave.parent && fileSave.parent.displayOff) fileSave.parent.displayOff()
    }

    // Narrow enough that the button stays inside the views' 730-pixel dialog.
    Row {
        x: 8
        y: 50
        spacing: 10

        MyRadioBox {
            id: kindBox
            objectName: "kindBox"
            radioBoxTitle: qsTr("Type")
            width: 280
            columnNumber: 3
        }
        MyGroupBox {
            groupBoxTitle: qsTr("Nom")
            width: 170
            height: 50
            StringSelect {
                id: nameField
                objectName: "filenameField"
                anchors.centerIn: parent
                width: 160
                height: 36
                rootWindow: fileSave.rootWindow
                length: 28
                onValueClicked: fileSave.keySource = "filename"
            }
        }
        MyGroupBox {
            groupBoxTitle: qsTr("Commentaire")
            width: 170
            height: 50
            StringSelect {
                id: commentField
                objectName: "commentField"
                anchors.centerIn: parent
                width: 160
                height: 36
                rootWindow: fileSave.rootWindow
                length: 30
                onValueClicked: fileSave.keySource = "comment"
            }
        }
        MyButton {
            objectName: "saveTool"
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Sauvegarder")
            onButtonClicked: fileSave.saveSignal(fileSave.chosenKind)
        }
    }
}
