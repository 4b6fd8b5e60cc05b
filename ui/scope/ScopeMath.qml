import QtQuick 2.15
import com.brovak.scope 1.0

// Math panel of the scope view's dialog panel: the expression of one channel's function. The
// panel sends only what the user produced (a keyboard answer, a preset, an operation) and, on
// closing, the shown text when it differs from the channel's expression in the setup; loading
// the setup's expression into the field sends nothing.
ScopeMath_ {
    id: math
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // The function the scope view's math tool chose (0..3).
    property int channel: 0
    property string shownText: ""
    // True while the function keyboard edits this panel's text.
    property bool editing: false

    width: parent ? parent.width : 730
    height: 184

    // Set while the panel is open: the view's own "enabled: false" at creation is no closing.
    property bool opened: false

    onFuncChanged: shownText = func
    onEnabledChanged: {
        if (enabled) {
            opened = true
            setFunctionFromSetup()
        } else if (opened) {
            opened = false
            if (shownText !== setupExpression())
                sendRequest(shownText)
        }
    }

    // A text of the user's: shown, and sent when the compiler takes it.
    function useText(text) {
        shownText = text
        sendRequest(text)
    }

    Connections {
        target: math.rootWindow
        function onSigCloseFctKey(value) {
            if (!math.editing)
                return
            math.editing = false
            // Cancel hands the shown text back: nothing to send.
            if (value !== math.shownText)
                math.useText(value)
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }

    Rectangle {
        x: 10
        y: 8
        width: 14
        height: 14
        radius: 7
        color: math.color
        border.color: "#404040"
    }
    Text {
        objectName: "panelTitle"
        x: 30
        y: 4
        font.pointSize: 12
        font.bold: true
        color: "black"
        text: math.title
    }

    Image {
        objectName: "closeCross"
        anchors.right: parent.right
        anchors.rightMargin: 6
        y: 2
        width: 24
        height: 24
        sourceSize: Qt.size(48, 48)
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: {
                if (math.parent && math.parent.displayOff)
                    math.parent.displayOff()
            }
        }
    }

    MyGroupBox {
        objectName: "expressionBox"
        x: 6
        y: 36
        width: 480
        height: 56
        groupBoxTitle: qsTr("Expression")
        Rectangle {
            anchors.fill: parent
            anchors.margins: 8
            anchors.topMargin: 14
            radius: 8
            color: "white"
            border.color: "#404040"
            border.width: expressionArea.pressed ? 3 : 1
            Text {
                objectName: "expressionText"
                anchors.fill: parent
                anchors.leftMargin: 8
                anchors.rightMargin: 8
                verticalAlignment: Text.AlignVCenter
                elide: Text.ElideRight
                font.pointSize: 12
                color: "black"
                text: math.shownText
            }
            MouseArea {
                id: expressionArea
                objectName: "expressionArea"
                anchors.fill: parent
                onClicked: {
                    math.editing = true
                    math.rootWindow.sigOpenFctKey(math.shownText)
                }
            }
        }
    }

    MyGroupBox {
        x: 496
        y: 36
        width: 228
        height: 56
        groupBoxTitle: qsTr("Operation")
        OperationSelect {
            id: operations
            objectName: "operationSelect"
            anchors.centerIn: parent
            anchors.verticalCenterOffset: 4
            width: 210
            height: 40
            // The operation goes to the end of the text; the keyboard opens to complete it.
            onSigAddOperation: {
                math.useText(math.shownText + opValue)
                math.editing = true
                math.rootWindow.sigOpenFctKey(math.shownText)
            }
        }
    }

    MyGroupBox {
        objectName: "presetBox"
        x: 6
        y: 102
        width: parent.width - 12
        height: 78
        groupBoxTitle: qsTr("Predefinies")
        Flow {
            anchors.fill: parent
            anchors.margins: 8
            anchors.topMargin: 14
            spacing: 6
            Repeater {
                model: [ "-ch1", "-ch4", "ch1+ch4", "ch1-ch4", "ch4-ch1", "(ch1*ch4)/divv(4)",
                         "(ch1*divv(1))/ch4", "(ch4*divv(1))/ch1" ]
                MyButton {
                    objectName: "preset" + index
                    text: modelData
                    onButtonClicked: math.useText(modelData)
                }
            }
        }
    }
}
