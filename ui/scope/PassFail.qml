import QtQuick 2.15
import com.brovak.scope 1.0

// Pass/fail panel of the scope view's dialog panel. Off: only the on/off button works. On and
// stopped: the source, the tolerances (while the mask is not a loaded one) and mask loading. On
// and running: the display and beep choices; the source and tolerances are locked. Mask saving
// works while the test is on. The save and load panels belong to the scope view.
PassFail_ {
    id: passFail
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // The tag of the numeric field that opened the keyboard, empty when none did.
    property string keySource: ""
    readonly property bool twoChannels: getChannels() === 2
    readonly property bool isOn: onOff !== 0
    readonly property bool running: runStop !== 0
    readonly property bool canSetSource: isOn && !running
    readonly property bool canSetTolerances: canSetSource && maskIsMemory === 0
    readonly property bool canChooseDisplay: isOn && running
    readonly property bool canSaveMask: isOn
    readonly property bool canLoadMask: isOn && !running

    signal saveMaskRequested()
    signal loadMaskRequested()

    width: parent ? parent.width : 730
    height: 184

    // A mask read from a file replaces the one built from the source.
    function maskLoaded() {
        sendRequestMaskIsMemory(1)
        dataChanged()
    }

    function toggleOnOff() {
        var on = isOn ? 0 : 1
        if (on === 0)
            runStop = 0
        sendRequestOnOff(on)
        sendRequestMaskIsMemory(0)
        dataChanged()
    }
    function toggleRunStop() {
        sendRequestRunStop(running ? 0 : 1)
        dataChanged()
    }

    Connections {
        target: passFail.rootWindow
        function onSigCloseNumKey(value) {
            var tag = passFail.keySource
            if (tag !== "xMask" && tag !== "yMask")
                return
            passFail.keySource = ""
            var field = tag === "xMask" ? xMask : yMask
            // Cancel hands the shown value back: nothing to send.
            if (value === passFail.rootWindow.threeDigits(field.doubleValue))
                return
            if (tag === "xMask")
                passFail.sendRequestXMask(value)
            else
                passFail.sendRequestYMask(value)
            passFail.dataChanged()
        }
    }

    // One key per entry; shows `current` and hands a different choice over.
    component KeyChoice: MySelectBox {
        id: keys
        property int current: -1
        signal chosen(int index)
        itemIndex: current
        opacity: enabled ? 1 : 0.4
        onItemIndexChanged: {
            if (itemIndex === current)
                return
            var index = itemIndex
            itemIndex = Qt.binding(function() { return keys.current })
            chosen(index)
        }
    }

    // A tolerance in divisions, typed on the numeric keyboard.
    component Tolerance: MyGroupBox {
        id: box
        property string tag: ""
        property alias doubleValue: value.doubleValue
        width: 110
        height: 68
        opacity: enabled ? 1 : 0.4
        ValueSelect {
            id: value
            objectName: box.objectName + "Value"
            rootWindow: passFail.rootWindow
            anchors.horizontalCenter: parent.horizontalCenter
            y: 12
            width: 96
            height: 44
            scientific: false
            decimals: 2
            minValue: 0
            maxValue: 2
            unit: qsTr("div")
            onValueClicked: passFail.keySource = box.tag
        }
    }

    component PushButton: MyButton {
        opacity: enabled ? 1 : 0.4
    }

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }

    Text {
        objectName: "panelTitle"
        x: 10
        y: 4
        font.pointSize: 12
        font.bold: true
        color: "black"
        text: qsTr("Test de gabarit")
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
                if (passFail.parent && passFail.parent.displayOff)
                    passFail.parent.displayOff()
            }
        }
    }

    Flow {
        x: 6
        y: 40
        width: parent.width - 12
        spacing: 6

        MyGroupBox {
            groupBoxTitle: qsTr("Test")
            width: 100
            height: 68
            PushButton {
                objectName: "onOffButton"
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                text: passFail.isOn ? qsTr("On") : qsTr("Off")
                onButtonClicked: passFail.toggleOnOff()
            }
        }
        MyGroupBox {
            groupBoxTitle: qsTr("Marche")
            width: 100
            height: 68
            PushButton {
                objectName: "runStopButton"
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                enabled: passFail.isOn
                text: passFail.running ? qsTr("Arret") : qsTr("Depart")
                onButtonClicked: passFail.toggleRunStop()
            }
        }
        KeyChoice {
            objectName: "sourceSelect"
            enabled: passFail.canSetSource
            selectBoxTitle: qsTr("Source")
            columnNumber: 4
            itemWidth: 42
            width: 200
            myListModel: [ { txt: "CH1", enabled: 1 }, { txt: "CH2", enabled: passFail.twoChannels ? 0 : 1 },
                           { txt: "CH3", enabled: passFail.twoChannels ? 0 : 1 }, { txt: "CH4", enabled: 1 } ]
            current: passFail.sourceIndex
            onChosen: {
                passFail.sendRequestSource(index)
                passFail.sendRequestMaskIsMemory(0)
                passFail.dataChanged()
            }
        }
        Tolerance {
            id: xMask
            objectName: "xMask"
            tag: "xMask"
            enabled: passFail.canSetTolerances
            groupBoxTitle: qsTr("Tolerance X")
            doubleValue: passFail.xMaskValue
        }
        Tolerance {
            id: yMask
            objectName: "yMask"
            tag: "yMask"
            enabled: passFail.canSetTolerances
            groupBoxTitle: qsTr("Tolerance Y")
            doubleValue: passFail.yMaskValue
        }

        KeyChoice {
            objectName: "displaySelect"
            enabled: passFail.canChooseDisplay
            selectBoxTitle: qsTr("Affichage")
            columnNumber: 3
            itemWidth: 64
            width: 220
            myListModel: [ { txt: qsTr("All"), enabled: 1 }, { txt: qsTr("Pass"), enabled: 1 },
                           { txt: qsTr("Fail"), enabled: 1 } ]
            current: passFail.displayIndex
            onChosen: {
                passFail.sendRequestDisplay(index)
                passFail.dataChanged()
                passFail.screenRefreshSlot()
            }
        }
        KeyChoice {
            objectName: "beepSelect"
            enabled: passFail.canChooseDisplay
            selectBoxTitle: qsTr("Bip")
            columnNumber: 2
            itemWidth: 54
            width: 130
            myListModel: [ { txt: qsTr("Off"), enabled: 1 }, { txt: qsTr("On"), enabled: 1 } ]
            current: passFail.beep
            onChosen: {
                passFail.sendRequestBeep(index)
                passFail.dataChanged()
            }
        }
        MyGroupBox {
            groupBoxTitle: qsTr("Compteur")
            width: 170
            height: 68
            Text {
                objectName: "counterText"
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                font.pointSize: 14
                font.bold: true
                color: "black"
                text: passFail.counterValue
            }
        }
        MyGroupBox {
            groupBoxTitle: qsTr("Masque")
            width: 174
            height: 68
            Row {
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                spacing: 6
                PushButton {
                    objectName: "maskSaveButton"
                    enabled: passFail.canSaveMask
                    text: qsTr("Sauver")
                    onButtonClicked: passFail.saveMaskRequested()
                }
                PushButton {
                    objectName: "maskLoadButton"
                    enabled: passFail.canLoadMask
                    text: qsTr("Charger")
                    onButtonClicked: passFail.loadMaskRequested()
                }
            }
        }
    }
}
