import QtQuick 2.0
import QtQuick.Window 2.1

// "-", the current entry, "+": steps through the model's entries (role txt). Touching the text
// opens a drop-down list of all entries beside the box; it closes on a choice or when it loses
// the focus.
MyGroupBox {
    id: listBox
    property var myListModel
    property int listIndex: -1
    property bool plusMinusVisible: true
    property int listHeight: 1000
    property int horizontalAlignment: Text.AlignRight
    property real zValue: 0
    property bool enableDDList: true
    property string listBoxTitle: ""
    // Text of the current entry; empty without model or with index -1.
    readonly property alias currentText: field.text
    // Shown (greyed) while no entry is chosen, so that the box never looks broken.
    property string placeholder: ""
    // A long entry shrinks to the box (down to 8 points) instead of being cut.
    property bool fitText: false
    signal refresh()

    property real zBeforeOpen: 0
    readonly property int keySize: 24
    readonly property int entryHeight: 30

    groupBoxTitle: listBoxTitle
    height: 50
    z: zValue

    function entryCount() {
        if (!myListModel)
            return 0
        return myListModel.count !== undefined ? myListModel.count : myListModel.length
    }

    function entryText(i) {
        if (i < 0 || i >= entryCount())
            return ""
        var e = myListModel.get !== undefined ? myListModel.get(i) : myListModel[i]
        return e && e.txt !== undefined ? String(e.txt) : ""
    }

    function showEntry() { field.text = entryText(listIndex) }

    function openList() {
        if (!enableDDList || dropDown.visible)
            return
        zBeforeOpen = zValue
        zValue = 1
        placeDropDown()
        dropDown.visible = true
        dropDown.forceActiveFocus()
    }

    // Beside the box on its side, moved along the row as far as needed to stay inside the window
    // (a box near the edge would otherwise cut its longest entries).
    function placeDropDown() {
        var x = horizontalAlignment === Text.AlignRight ? width + 5 : -dropDown.width - 5
        var windowWidth = listBox.Window.width
        if (windowWidth > 0) {
            var left = listBox.mapToItem(null, x, 0).x
            if (left + dropDown.width > windowWidth)
                x -= left + dropDown.width - windowWidth
            else if (left < 0)
                x -= left
        }
        dropDown.x = x
    }

    function closeList() {
        if (!dropDown.visible)
            return
        dropDown.visible = false
        zValue = zBeforeOpen
    }

    onListIndexChanged: showEntry()
    onRefresh: showEntry()
    onMyListModelChanged: showEntry()
    Component.onCompleted: showEntry()

    Row {
        anchors.centerIn: parent
        spacing: 2

        Item {
            objectName: "minusKey"
            visible: listBox.plusMinusVisible
            width: listBox.keySize
            height: listBox.keySize
            Rectangle {
                x: minusArea.pressed ? 3 : 0
                y: minusArea.pressed ? 3 : 0
                width: parent.width
                height: parent.height
                radius: width / 2
                color: "white"
                border.color: "#404040"
                border.width: 1
                Text { anchors.centerIn: parent; font.pointSize: 12; font.bold: true; text: "-" }
            }
            MouseArea {
                id: minusArea
                anchors.fill: parent
                onClicked: {
                    if (listBox.listIndex > 0)
                        listBox.listIndex = listBox.listIndex - 1
                }
            }
        }

        Rectangle {
            objectName: "listText"
            width: listBox.width - listBox.keySize - (listBox.plusMinusVisible ? 2 * listBox.keySize + 4 : 0)
            height: listBox.keySize + 4
            radius: height / 2
            color: "white"
            border.color: "#404040"
            border.width: 1
            Text {
                id: field
                anchors.fill: parent
                anchors.leftMargin: 6
                anchors.rightMargin: 6
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                elide: listBox.fitText ? Text.ElideNone : Text.ElideRight
                font.pointSize: 12
                fontSizeMode: listBox.fitText ? Text.HorizontalFit : Text.FixedSize
                minimumPointSize: 8
                color: "black"
            }
            Text {
                objectName: "placeholder"
                anchors.fill: field
                visible: field.text === "" && listBox.placeholder !== ""
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.pointSize: 12
                font.italic: true
                fontSizeMode: Text.HorizontalFit
                minimumPointSize: 8
                color: "#606060"
                text: listBox.placeholder
            }
            MouseArea {
                anchors.fill: parent
                onClicked: listBox.openList()
            }
        }

        Item {
            objectName: "plusKey"
            visible: listBox.plusMinusVisible
            width: listBox.keySize
            height: listBox.keySize
            Rectangle {
                x: plusArea.pressed ? 3 : 0
                y: plusArea.pressed ? 3 : 0
                width: parent.width
                height: parent.height
                radius: width / 2
                color: "white"
                border.color: "#404040"
                border.width: 1
                Text { anchors.centerIn: parent; font.pointSize: 12; font.bold: true; text: "+" }
            }
            MouseArea {
                id: plusArea
                anchors.fill: parent
                onClicked: {
                    if (listBox.listIndex < listBox.entryCount() - 1)
                        listBox.listIndex = listBox.listIndex + 1
                }
            }
        }
    }

    // The drop-down list, bottom-aligned with the box, on its right or its left.
    Rectangle {
        id: dropDown
        objectName: "dropDown"
        visible: false
        width: listBox.width
        height: Math.min(listBox.entryCount() * listBox.entryHeight + 20, listBox.listHeight)
        // Set when the list opens (placeDropDown).
        x: listBox.horizontalAlignment === Text.AlignRight ? listBox.width + 5 : -width - 5
        y: listBox.height - height
        radius: 10
        color: "white"
        border.color: "#404040"
        border.width: 2
        clip: true

        onActiveFocusChanged: {
            if (!activeFocus)
                listBox.closeList()
        }

        ListView {
            anchors.fill: parent
            anchors.margins: 10
            model: listBox.entryCount()
            boundsBehavior: Flickable.StopAtBounds
            delegate: Rectangle {
                objectName: "dropDownEntry" + index
                width: ListView.view.width
                height: listBox.entryHeight
                color: index === listBox.listIndex ? "#c8d8e8" : "white"
                Text {
                    anchors.centerIn: parent
                    font.pointSize: 12
                    color: "black"
                    text: listBox.entryText(index)
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: {
                        listBox.listIndex = index
                        listBox.closeList()
                    }
                }
            }
        }
    }
}
