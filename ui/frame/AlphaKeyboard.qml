import QtQuick 2.0

// The text keyboard of the root window: 40 keys ten per row (digits or symbols, the letters,
// delete, "$", two caps-lock keys), then the space bar, "Sym", enter and cancel. It holds at most
// maxCarNb characters and answers with the root's sigCloseAlphaKey.
MyGroupBox {
    id: alphaKeyboard
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property string textInputValue: ""
    property int maxCarNb: 30
    property bool capsLock: false
    property bool symbolLock: false
    readonly property alias text: field.text
    // The text given at opening, given back on cancel.
    property string openingText: ""

    readonly property int keyWidth: 62
    readonly property int keyHeight: 50
    readonly property int keySpacing: 4
    readonly property string digits: "1234567890"
    readonly property var symbols: ["&", "~", "(", ")", "-", "+", "=", "_", "#", "@"]
    // The 40 keys in order: a character, "del" or "caps".
    readonly property var keys: [
        "1", "2", "3", "4", "5", "6", "7", "8", "9", "0",
        "a", "b", "c", "d", "e", "f", "g", "h", "i", "del",
        "j", "k", "l", "m", "n", "o", "p", "q", "r", "$",
        "caps", "s", "t", "u", "v", "w", "x", "y", "z", "caps"
    ]

    width: 10 * keyWidth + 9 * keySpacing + 20
    height: 44 + 5 * keyHeight + 5 * keySpacing + 20
    titleDisplay: false

    // A hidden keyboard takes no typing.
    onVisibleChanged: {
        if (!visible)
            field.focus = false
    }

    // What a character key types now.
    function keyText(index) {
        var k = keys[index]
        if (index < 10)
            return symbolLock ? symbols[index] : digits.charAt(index)
        if (k.length === 1 && k >= "a" && k <= "z")
            return capsLock ? k.toUpperCase() : k
        return k
    }

    // Shows the keyboard with textInputValue, the whole text selected.
    function open() {
        openingText = textInputValue
        field.text = textInputValue
        field.selectAll()
        visible = true
        field.forceActiveFocus()
    }

    // Refused when the text is full, even over a selection.
    function insertText(t) {
        if (field.text.length >= maxCarNb)
            return
        if (field.selectedText.length > 0)
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
        textInputValue = field.text
        rootWindow.sigCloseAlphaKey(field.text)
        visible = false
    }

    function cancel() {
        field.text = openingText
        textInputValue = openingText
        rootWindow.sigCloseAlphaKey(openingText)
        visible = false
    }

    function keyPressed(index) {
        var k = keys[index]
        if (k === "del")
            deleteBack()
        else if (k === "caps")
            capsLock = !capsLock
        else
            insertText(keyText(index))
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
            objectName: "alphaField"
            anchors.fill: parent
            anchors.leftMargin: 8
            anchors.rightMargin: 8
            verticalAlignment: TextInput.AlignVCenter
            maximumLength: alphaKeyboard.maxCarNb
            persistentSelection: true
            clip: true
            font.pointSize: 16
            color: "black"
            selectByMouse: true
            Keys.onReturnPressed: alphaKeyboard.enter()
            Keys.onEnterPressed: alphaKeyboard.enter()
            Keys.onEscapePressed: alphaKeyboard.cancel()
        }
    }

    Grid {
        id: keyGrid
        x: 10
        y: 54
        columns: 10
        spacing: alphaKeyboard.keySpacing

        Repeater {
            model: alphaKeyboard.keys.length
            Item {
                id: key
                property string kind: alphaKeyboard.keys[index]
                objectName: kind === "del" ? "key_delete" : kind === "caps" ? "key_caps" + (index === 30 ? "1" : "2")
                                                                             : "key_" + index
                width: alphaKeyboard.keyWidth
                height: alphaKeyboard.keyHeight
                Rectangle {
                    x: keyArea.pressed ? 3 : 0
                    y: keyArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 6
                    color: key.kind === "caps" && alphaKeyboard.capsLock ? "#c8d8e8" : "white"
                    border.color: "#404040"
                    border.width: 1
                    Text {
                        objectName: "keyLabel"
                        visible: key.kind !== "del"
                        anchors.centerIn: parent
                        font.pointSize: 16
                        color: "black"
                        text: key.kind === "caps" ? (alphaKeyboard.capsLock ? "ABC" : "abc")
                                                  : alphaKeyboard.keyText(index)
                    }
                    Image {
                        visible: key.kind === "del"
                        anchors.centerIn: parent
                        width: 32
                        height: 32
                        sourceSize: Qt.size(64, 64)
                        source: "qrc:/images/DeleteKey.png"
                    }
                }
                MouseArea {
                    id: keyArea
                    anchors.fill: parent
                    onClicked: alphaKeyboard.keyPressed(index)
                }
            }
        }
    }

    Row {
        x: 10
        y: keyGrid.y + 4 * (alphaKeyboard.keyHeight + alphaKeyboard.keySpacing)
        spacing: alphaKeyboard.keySpacing

        Repeater {
            // name, label or image, width in keys
            model: [["space", "", 5], ["sym", "Sym", 1], ["enter", "qrc:/images/OkKey.png", 2],
                    ["cancel", "qrc:/images/CancelKey.png", 2]]
            Item {
                objectName: "key_" + modelData[0]
                width: modelData[2] * alphaKeyboard.keyWidth + (modelData[2] - 1) * alphaKeyboard.keySpacing
                height: alphaKeyboard.keyHeight
                Rectangle {
                    x: bottomArea.pressed ? 3 : 0
                    y: bottomArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 6
                    color: modelData[0] === "sym" && alphaKeyboard.symbolLock ? "#c8d8e8" : "white"
                    border.color: "#404040"
                    border.width: 1
                    Text {
                        visible: modelData[0] === "sym"
                        anchors.centerIn: parent
                        font.pointSize: 16
                        color: "black"
                        text: modelData[1]
                    }
                    Image {
                        visible: modelData[0] === "enter" || modelData[0] === "cancel"
                        anchors.centerIn: parent
                        width: 32
                        height: 32
                        sourceSize: Qt.size(64, 64)
                        source: visible ? modelData[1] : ""
                    }
                }
                MouseArea {
                    id: bottomArea
                    anchors.fill: parent
                    onClicked: {
                        var name = modelData[0]
                        if (name === "space")
                            alphaKeyboard.insertText(" ")
                        else if (name === "sym")
                            alphaKeyboard.symbolLock = !alphaKeyboard.symbolLock
                        else if (name === "enter")
                            alphaKeyboard.enter()
                        else
                            alphaKeyboard.cancel()
                    }
                }
            }
        }
    }
}
