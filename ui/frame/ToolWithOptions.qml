import QtQuick 2.11

// A button whose click fades in a row of option buttons beside it. options: a list of
// { source, param, value } with an optional visible (default true); a click on an option posts
// that option's request, hides the row and emits toolWithOptionsClicked(value). The options are
// optionWidth x optionHeight (the button's size unless set), each on its own tile.
Item {
    id: root
    property string source: ""
    property var options: []
    property bool shown: false
    property int optionWidth: 42
    property int optionHeight: 42
    signal toolWithOptionsClicked(int value)

    width: 42
    height: 42

    Tool {
        id: button
        objectName: "optionsButton"
        source: root.source
        onToolClicked: root.shown = !root.shown
    }

    Row {
        objectName: "optionsRow"
        anchors.left: button.right
        anchors.leftMargin: 8
        spacing: 8
        opacity: root.shown ? 1 : 0
        enabled: root.shown

        Behavior on opacity {
            NumberAnimation {
                duration: 500
                easing.type: Easing.Linear
            }
        }

        Repeater {
            model: root.options
            Tool {
                objectName: "option" + index
                width: root.optionWidth
                height: root.optionHeight
                visible: modelData.visible === undefined || modelData.visible
                source: modelData.source
                param: modelData.param
                value: modelData.value
                onToolClicked: {
                    root.shown = false
                    root.toolWithOptionsClicked(modelData.value)
                }
                // A tile under each option: the row opens over the readings, and a symbol
                // drawn straight on a reading could be read with neither.
                Rectangle {
                    z: -1
                    anchors.fill: parent
                    anchors.margins: -2
                    color: "#202020"
                    border.color: "white"
                    border.width: 1
                }
            }
        }
    }
}
