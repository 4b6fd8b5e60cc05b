import QtQuick 2.0

// The numeric keyboard of the root window: a field checked against [minValue, maxValue] with
// `decimals` decimals, digit keys, Min, Max, delete, enter and cancel. It answers with the root's
// sigCloseNumKey.
MyGroupBox {
    id: numericKeyboard
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property double doubleValue: 0
    property double minValue: 0
    property double maxValue: 0
    property int decimals: 0
    readonly property alias text: field.text
    readonly property alias acceptable: field.acceptableInput

    readonly property int keyWidth: 34
    readonly property int keyHeight: 34
    readonly property var keys: ["1", "2", "3", "+", "4", "5", "6", "-", "7", "8", "9", "e",
                                 "0", ".", "Min", "Max"]

    width: 200
    height: 200
    titleDisplay: false

    // A hidden keyboard takes no typing.
    onVisibleChanged: {
        if (!visible)
            field.focus = false
    }

    // The value as the field shows it: exponential with up to two decimals when decimals is not
    // 0, else a plain integer. direction < 0 rounds down, > 0 up, 0 to the nearest, on the
    // third significant digit.
    function valueText(value, direction) {
        var d = Math.min(2, decimals)
        var rounded = value
        if (direction !== 0 && value !== 0 && isFinite(value)) {
            var step = Math.pow(10, Math.floor(Math.log(Math.abs(value)) / Math.LN10) - 2)
            if (decimals === 0)
                step = Math.max(step, 1)
            rounded = (direction < 0 ? Math.floor(value / step) : Math.ceil(value / step)) * step
        }
        if (decimals !== 0)
            return rounded.toExponential(d)
        return Number(rounded.toPrecision(3)).toFixed(0)
    }

    // Shows the keyboard with doubleValue, the whole text selected.
    function open() {
        field.text = ""
        // An absent value (NaN) opens an empty field.
        field.text = isNaN(doubleValue) ? "" : valueText(doubleValue, 0)
        field.selectAll()
        visible = true
        field.forceActiveFocus()
    }

    function insertText(t) {
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

    // A bound rounded to three digits towards the inside of the range, so that it is accepted.
    function putBound(isMax) {
        var bound = isMax ? maxValue : minValue
        var t = valueText(bound, 0)
        var v = Number(t)
        if (v > maxValue || v < minValue)
            t = valueText(bound, isMax ? -1 : 1)
        field.text = t
        field.cursorPosition = field.text.length
    }

    function enter() {
        if (!field.acceptableInput)
            return
        doubleValue = Number(field.text)
        rootWindow.sigCloseNumKey(doubleValue)
        visible = false
    }

    function cancel() {
        rootWindow.sigCloseNumKey(doubleValue)
        visible = false
    }

    function keyPressed(t) {
        if (t === "Min" || t === "Max")
            putBound(t === "Max")
        else
            insertText(t)
    }

    Rectangle {
        x: 6
        y: 6
        width: parent.width - 12
        height: 32
        radius: 6
        color: "white"
        border.color: "#404040"
        border.width: 1

        TextInput {
            id: field
            objectName: "numericField"
            anchors.fill: parent
            anchors.leftMargin: 6
            anchors.rightMargin: 6
            verticalAlignment: TextInput.AlignVCenter
            horizontalAlignment: TextInput.AlignRight
            maximumLength: 10
            persistentSelection: true
            font.pointSize: 14
            color: acceptableInput ? "black" : "red"
            selectByMouse: true
            validator: DoubleValidator {
                bottom: numericKeyboard.minValue
                top: numericKeyboard.maxValue
                decimals: numericKeyboard.decimals
                notation: DoubleValidator.ScientificNotation
                locale: "en_US.UTF-8"
            }
            Keys.onReturnPressed: numericKeyboard.enter()
            Keys.onEnterPressed: numericKeyboard.enter()
            Keys.onEscapePressed: numericKeyboard.cancel()
        }
    }

    Grid {
        x: 6
        y: 44
        columns: 4
        spacing: 3
        rowSpacing: 4

        Repeater {
            model: numericKeyboard.keys
            Item {
                id: key
                objectName: "key_" + modelData
                property bool usable: modelData !== "." || numericKeyboard.decimals !== 0
                width: numericKeyboard.keyWidth
                height: numericKeyboard.keyHeight
                enabled: usable
                Rectangle {
                    x: keyArea.pressed ? 3 : 0
                    y: keyArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 5
                    color: key.usable ? "white" : "#a0a0a0"
                    border.color: "#404040"
                    border.width: 1
                    Text {
                        anchors.centerIn: parent
                        font.pointSize: modelData.length > 1 ? 12 : 14
                        color: "black"
                        text: modelData
                    }
                }
                MouseArea {
                    id: keyArea
                    anchors.fill: parent
                    onClicked: numericKeyboard.keyPressed(modelData)
                }
            }
        }
    }

    Column {
        x: 156
        y: 44
        spacing: 4

        Repeater {
            model: [["delete", "qrc:/images/DeleteKey.png"], ["enter", "qrc:/images/OkKey.png"],
                    ["cancel", "qrc:/images/CancelKey.png"]]
            Item {
                objectName: "key_" + modelData[0]
                width: 38
                height: 46
                Rectangle {
                    x: actionArea.pressed ? 3 : 0
                    y: actionArea.pressed ? 3 : 0
                    width: parent.width
                    height: parent.height
                    radius: 5
                    color: "white"
                    border.color: "#404040"
                    border.width: 1
                    Image {
                        anchors.centerIn: parent
                        width: 28
                        height: 28
                        sourceSize: Qt.size(64, 64)
                        source: modelData[1]
                    }
                }
                MouseArea {
                    id: actionArea
                    anchors.fill: parent
                    onClicked: {
                        if (modelData[0] === "delete")
                            numericKeyboard.deleteBack()
                        else if (modelData[0] === "enter")
                            numericKeyboard.enter()
                        else
                            numericKeyboard.cancel()
                    }
                }
            }
        }
    }
}
