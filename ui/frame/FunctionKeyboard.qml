import QtQuick 2.0

// The function keyboard of the root window: channels, operators, digits, "pi", "t" and the
// operations of an OperationSelect. Enter hands the text over only when the root window finds
// the function valid; it answers with the root's sigCloseFctKey.
MyGroupBox {
    id: functionKeyboard
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property string textInputValue: ""
    // A math text is kept in a 100-byte field with its terminating NUL.
    readonly property int maxCarNb: 99
    readonly property alias text: field.text
    // The text given at opening, given back on cancel.
    property string openingText: ""

    readonly property int keyWidth: 62
    readonly property int keyHeight: 54
    readonly property int keySpacing: 4
    readonly property var keys: [
        "ch1", "/", "1", "2", "3", "(", "del",
        "ch2", "*", "4", "5", "6", ")", "Clr",
        "ch3", "-", "7", "8", "9", "pi", "t",
        "ch4", "+", "0", "."
    ]

    width: 7 * keyWidth + 6 * keySpacing + 200
    height: 54 + 4 * keyHeight + 3 * keySpacing + 10
    titleDisplay: false

    // A hidden keyboard takes no typing.
    onVisibleChanged: {
        if (!visible)
            field.focus = false
    }

    // Shows the keyboard with textInputValue, the whole text selected.
    function open() {
        openingText = textInputValue
        field.text = textInputValue
        field.selectAll()
        visible = true
        field.forceActiveFocus()
    }

    // A text that would not fit whole is refused rather than cut.
    function insertText(t) {
        var selected = field.selectedText.length
        if (field.text.length - selected + t.length > maxCarNb)
            return
        if (selected > 0)
            field.remove(field.selectionStart, field.selectionEnd)
        field.insert(field.cursorPosition, t)
    }

    function deleteBack() {
        if (field.selectedText.length > 0)
            field.remove(field.selectionStart, field.selectionEnd)
        else if (field.cursorPosition > 0)
            field.remove(field.cursorPosition - 1, field.cursorPosition)
    }

    function enter() {
        if (!rootWindow.verifyFunctionValidity(field.text)) {
            rootWindow.screenMessageSignal(26, "")
            return
        }
        textInputValue = field.text
        rootWindow.sigCloseFctKey(field.text)
        visible = false
    }

    function cancel() {
        field.text = openingText
        textInputValue = openingText
        rootWindow.sigCloseFctKey(openingText)
        visible = false
    }

    function keyPressed(k) {
        if (k === "del")
            deleteBack()
        else if (k === "Clr")
            field.text = ""
        else
            insertText(k)
    }

    Rectangle {
        x: 10
        y: 10
        width: parent.width - 20
        height: 36
        radius: 6
        color: "white"
        border.color: "#404040"
        border.width: 1

        TextInput {
            id: field
            objectName: "functionField"
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            verticalAlignment: TextInput.AlignVCenter
            maximumLength: functionKeyboard.maxCarNb
            persistentSelection: true
            clip: true
            font.pointSize: 16
            color: "black"
            selectByMouse: true
            Keys.onReturnPressed: functionKeyboard.enter()
            Keys.onEnterPressed: functionKeyboard.enter()
            Keys.onEscapePressed: functionKeyboard.cancel()
        }
    }

    Grid {
        id: keyGrid
        x: 10
        y: 54
        columns: 7
        spacing: functionKeyboard.keySpacing

        Repeater {
            model: functionKeyboard.keys
            Item {
                id: key
                objectName: modelData === "del" ? "key_delete" : "key_" + modelData
                width: functionKeyboard.keyWidth
                height: functionKeyboard.keyHeight
                Rectangle {
                    x: keyArea.pressed ? 3 : 0
                    y: keyArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 6
                    color: "white"
                    border.color: "#404040"
                    border.width: 1
                    Text {
                        visible: modelData !== "del"
                        anchors.centerIn: parent
                        font.pointSize: 16
                        color: "black"
                        text: modelData
                    }
                    Image {
                        visible: modelData === "del"
                        anchors.centerIn: parent
                        width: 32
                        height: 32
                        sourceSize: Qt.size(64, 64)
                        source: visible ? "qrc:/images/DeleteKey.png" : ""
                    }
                }
                MouseArea {
                    id: keyArea
                    anchors.fill: parent
                    onClicked: functionKeyboard.keyPressed(modelData)
                }
            }
        }
    }

    // The operations at the bottom, so that their list opens upwards over the keys; enter and
    // cancel above them.
    OperationSelect {
        id: operations
        objectName: "operationSelect"
        x: keyGrid.x + keyGrid.width + 10
        y: keyGrid.y + 3 * (functionKeyboard.keyHeight + functionKeyboard.keySpacing) + 2
        width: functionKeyboard.width - x - 10
        listHeight: y + height - 10
        horizontalAlignment: Text.AlignLeft
        onSigAddOperation: functionKeyboard.insertText(opValue)
    }

    Column {
        x: operations.x + (operations.width - width) / 2
        y: keyGrid.y
        spacing: functionKeyboard.keySpacing

        Repeater {
            model: [["enter", "qrc:/images/OkKey.png"], ["cancel", "qrc:/images/CancelKey.png"]]
            Item {
                objectName: "key_" + modelData[0]
                width: 2 * functionKeyboard.keyWidth
                height: functionKeyboard.keyHeight
                Rectangle {
                    x: actionArea.pressed ? 3 : 0
                    y: actionArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 6
                    color: "white"
                    border.color: "#404040"
                    border.width: 1
                    Image {
                        anchors.centerIn: parent
                        width: 32
                        height: 32
                        sourceSize: Qt.size(64, 64)
                        source: modelData[1]
                    }
                }
                MouseArea {
                    id: actionArea
                    anchors.fill: parent
                    onClicked: {
                        if (modelData[0] === "enter")
                            functionKeyboard.enter()
                        else
                            functionKeyboard.cancel()
                    }
                }
            }
        }
    }
}
