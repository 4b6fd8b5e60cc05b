import QtQuick 2.11
import com.brovak.scope 1.0

// Load panel of a view's dialog panel: the pass/fail mask files of the storage and the load
// tool, which closes the dialog panel.
FileLoad_ {
    id: fileLoad
    // The dialog panel that holds this panel.
    property var dialogPanel: parent
    property var fileNames: []

    width: 800
    height: 110

    function refreshList() {
        var names = getFileList()
        var model = []
        for (var i = 0; i < names.length; ++i)
            model.push({ txt: names[i] })
        fileNames = names
        fileList.myListModel = model
        fileList.listIndex = names.length > 0 ? 0 : -1
    }

    Component.onCompleted: refreshList()
    onEnabledChanged: {
        if (enabled)
            refreshList()
    }

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    MyLabel {
        objectName: "loadTitle"
        x: 8
        y: 8
        text: qsTr("Chargement")
    }

    Row {
        x: 8
        y: 50
        spacing: 10

        MyListBox {
            id: fileList
            objectName: "fileList"
            listBoxTitle: qsTr("Masque")
            width: 400
        }
        MyButton {
            objectName: "loadTool"
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Charger")
            onButtonClicked: {
                if (fileList.currentText === "")
                    return
                fileLoad.loadSignal(fileList.currentText)
                if (fileLoad.dialogPanel && fileLoad.dialogPanel.displayOff)
                    fileLoad.dialogPanel.displayOff()
            }
        }
    }
}
