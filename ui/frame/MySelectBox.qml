import QtQuick 2.0

// Group box with one key per model entry (roles txt, img, enabled) in a grid; the selected key
// has a wide border. A key without text and image is hidden; a disabled key is faded.
MyGroupBox {
    id: selectBox
    property var myListModel
    property int itemIndex: -1
    property int itemWidth: 20
    property int columnNumber: 10
    property string selectBoxTitle: ""
    property bool enab: true
    property real opac: 1.0

    groupBoxTitle: selectBoxTitle
    height: grid.height + 40
    opacity: opac

    function entryCount() {
        if (!myListModel)
            return 0
        return myListModel.count !== undefined ? myListModel.count : myListModel.length
    }

    function entry(i) {
        if (i < 0 || i >= entryCount())
            return undefined
        return myListModel.get !== undefined ? myListModel.get(i) : myListModel[i]
    }

    function field(i, name) {
        var e = entry(i)
        return e && e[name] !== undefined ? e[name] : ""
    }

    Grid {
        id: grid
        anchors.centerIn: parent
        columns: selectBox.columnNumber
        spacing: 4

        Repeater {
            model: selectBox.myListModel
            Rectangle {
                id: key
                objectName: "selectKey" + index
                property string keyText: String(selectBox.field(index, "txt"))
                property string keyImage: String(selectBox.field(index, "img"))
                property bool keyEnabled: selectBox.enab && selectBox.field(index, "enabled") != 0
                visible: keyText !== "" || keyImage !== ""
                enabled: keyEnabled
                opacity: keyEnabled ? 1.0 : 0.2
                width: selectBox.itemWidth
                height: 28
                radius: 5
                color: "white"
                border.color: "#404040"
                border.width: index === selectBox.itemIndex ? 4 : 1

                Image {
                    anchors.centerIn: parent
                    visible: key.keyImage !== ""
                    source: key.keyImage
                }
                Text {
                    anchors.centerIn: parent
                    visible: key.keyText !== ""
                    font.pointSize: 12
                    color: "black"
                    text: key.keyText
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: selectBox.itemIndex = index
                }
            }
        }
    }
}
