import QtQuick 2.15
import com.brovak.scope 1.0

// Trigger panel of the scope view's dialog panel: the trigger type chooses the page (edge, pulse,
// delay, count). Every control shows the setup as the panel item reads it and sends the user's
// choice to the controller; the control shows the new value when the controller announces it.
// Nothing is sent by bindings, so opening the panel sends nothing.
ScopeTrigger_ {
    id: trigger
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // The page shown: follows the user's choice at once, and the setup on every type notice.
    property int page: 0
    // The tag of the numeric field that opened the keyboard, empty when none did.
    property string keySource: ""
    readonly property bool twoChannels: getChannels() === 2

    width: parent ? parent.width : 730
    height: 184

    // The panel item announces a recomputation by the type or the title notice alone on
    // opening and on an autoset; the values are bound to dataChanged.
    onTriggerTypeChanged: {
        page = Math.max(0, selectIndex)
        dataChanged()
    }
    onTitleChanged: dataChanged()

    // The keyboard's answer goes to the field that opened it; an unchanged value (cancel) sends
    // nothing. The keyboard hands back its value rounded to three digits.
    function closeNumKey(value) {
        var tag = keySource
        keySource = ""
        var field = fieldOf(tag)
        if (!field || value === rootWindow.threeDigits(field.doubleValue))
            return
        switch (tag) {
        case "tLevel": trigger.sendRequestTrigLevel(value); break
        case "qLevel": trigger.sendRequestQualifLevel(value); break
        case "holdoff": trigger.sendRequestHoldoff(value); break
        case "t1": trigger.sendRequestPulseT1(value); break
        case "t2": trigger.sendRequestPulseT2(value); break
        case "delay": trigger.sendRequestDelay(value); break
        case "count": trigger.sendRequestCount(value); break
        }
    }
    function fieldOf(tag) {
        switch (tag) {
        case "tLevel": return tLevelField
        case "qLevel": return qLevelField
        case "holdoff": return holdoffField
        case "t1": return t1Field
        case "t2": return t2Field
        case "delay": return delayField
        case "count": return countField
        }
        return null
    }

    Connections {
        target: trigger.rootWindow
        function onSigCloseNumKey(value) {
            if (trigger.keySource !== "")
                trigger.closeNumKey(value)
        }
    }

    // A selector that shows `current` and sends a different choice; the display stays bound to
    // the panel's value, so a choice shows only once the controller has taken it.
    component Selector: MySelectBox {
        id: selector
        property int current: -1
        signal chosen(int index)
        itemIndex: current
        onItemIndexChanged: {
            if (itemIndex === current)
                return
            var choice = itemIndex
            itemIndex = Qt.binding(function() { return selector.current })
            chosen(choice)
        }
    }

    // The same with "-", the entry and "+", and a drop-down list: for the longer lists.
    component ListSelector: MyListBox {
        id: listSelector
        property int current: -1
        signal chosen(int index)
        listIndex: current
        onListIndexChanged: {
            if (listIndex === current)
                return
            var choice = listIndex
            listIndex = Qt.binding(function() { return listSelector.current })
            chosen(choice)
        }
    }

    // A numeric field in a titled box; a click opens the root's keyboard with the limits.
    component Field: MyGroupBox {
        id: box
        property string tag: ""
        property alias doubleValue: value.doubleValue
        property alias minValue: value.minValue
        property alias maxValue: value.maxValue
        property alias unit: value.unit
        property alias decimals: value.decimals
        property alias scientific: value.scientific
        width: 110
        height: 68
        ValueSelect {
            id: value
            objectName: box.objectName + "Value"
            rootWindow: trigger.rootWindow
            anchors.horizontalCenter: parent.horizontalCenter
            y: 12
            width: 96
            height: 44
            decimals: 2
            onValueClicked: trigger.keySource = box.tag
        }
    }

    // Source list: "CH1" to "CH4"; the two-channel model has channels 1 and 4 only.
    readonly property var sourceModel: [
        { txt: "CH1", enabled: 1 },
        { txt: "CH2", enabled: twoChannels ? 0 : 1 },
        { txt: "CH3", enabled: twoChannels ? 0 : 1 },
        { txt: "CH4", enabled: 1 }
    ]
    readonly property var couplingModel: [ { txt: "AC" }, { txt: "DC" }, { txt: "LF reject" }, { txt: "HF reject" } ]
    readonly property var slopeModel: [ { img: "qrc:/images/EdgeRising.png", enabled: 1 },
                                        { img: "qrc:/images/EdgeFalling.png", enabled: 1 } ]

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }

    Text {
        objectName: "triggerTitle"
        x: 10
        y: 4
        font.pointSize: 12
        font.bold: true
        color: "black"
        text: trigger.title
    }

    Image {
        objectName: "triggerClose"
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
                if (trigger.parent && trigger.parent.displayOff)
                    trigger.parent.displayOff()
            }
        }
    }

    Flow {
        x: 6
        y: 36
        width: parent.width - 12
        spacing: 6

        Selector {
            objectName: "typeSelect"
            selectBoxTitle: qsTr("Type")
            columnNumber: 4
            itemWidth: 80
            width: 350
            myListModel: [ { txt: qsTr("front"), enabled: 1 }, { txt: qsTr("impulsion"), enabled: 1 },
                           { txt: qsTr("retard"), enabled: 1 }, { txt: qsTr("comptage"), enabled: 1 } ]
            current: trigger.page
            onChosen: {
                trigger.sendRequestSelect(index)
                trigger.page = index
                trigger.dataChanged()
            }
        }

        // Main source: edge and pulse pages; the qualifier: delay and count pages.
        Selector {
            objectName: "tSourceSelect"
            visible: trigger.page <= 1
            selectBoxTitle: qsTr("Source")
            columnNumber: 4
            itemWidth: 44
            width: 208
            myListModel: trigger.sourceModel
            current: trigger.tsourceIndex
            onChosen: trigger.sendRequestTrigSource(index)
        }
        Selector {
            objectName: "qSourceSelect"
            visible: trigger.page >= 2
            selectBoxTitle: qsTr("Source qualif.")
            columnNumber: 4
            itemWidth: 44
            width: 208
            myListModel: trigger.sourceModel
            current: trigger.qsourceIndex
            onChosen: trigger.sendRequestQualifSource(index)
        }

        MyGroupBox {
            objectName: "tNoiseRejectBox"
            visible: trigger.page === 0
            groupBoxTitle: qsTr("Bruit")
            width: 130
            height: 68
            Checkbox {
                objectName: "tNoiseReject"
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                name: qsTr("rejet")
                checked: trigger.tnoiserejectValue
                // The box shows the setup again until the controller announces the change.
                onClicked: {
                    var wanted = checked
                    checked = Qt.binding(function() { return trigger.tnoiserejectValue })
                    trigger.sendRequestTrigNoiseReject(wanted)
                }
            }
        }

        Image {
            objectName: "triggerPicture"
            visible: trigger.page >= 1
            width: 140
            height: 64
            source: trigger.page === 1 ? "qrc:/images/triggerPulse.jpg"
                  : trigger.page === 2 ? "qrc:/images/triggerDelay.jpg"
                  : trigger.page === 3 ? "qrc:/images/triggerCount.jpg" : ""
        }

        // Edge page: coupling, slope, level, hold-off of the main source.
        ListSelector {
            objectName: "tCouplingSelect"
            visible: trigger.page === 0
            listBoxTitle: qsTr("Couplage")
            width: 160
            height: 68
            myListModel: trigger.couplingModel
            current: trigger.tcouplingIndex
            onChosen: trigger.sendRequestTrigCoupling(index)
        }
        Selector {
            objectName: "tEdgeSelect"
            visible: trigger.page === 0
            selectBoxTitle: qsTr("Pente")
            columnNumber: 2
            itemWidth: 40
            width: 100
            myListModel: trigger.slopeModel
            current: trigger.tedgeIndex
            onChosen: trigger.sendRequestTrigEdge(index)
        }
        Field {
            id: tLevelField
            objectName: "tLevel"
            tag: "tLevel"
            visible: trigger.page === 0
            groupBoxTitle: qsTr("Niveau")
            doubleValue: trigger.tlevelValue
            minValue: -trigger.tmaxlevelValue
            maxValue: trigger.tmaxlevelValue
            unit: "V"
        }
        Field {
            id: holdoffField
            objectName: "holdoff"
            tag: "holdoff"
            visible: trigger.page !== 1
            groupBoxTitle: qsTr("Hold-off")
            doubleValue: trigger.holdoffValue
            minValue: trigger.minholdoffValue
            maxValue: trigger.maxholdoffValue
            unit: "s"
        }

        // Pulse page: condition, T1, T2.
        ListSelector {
            objectName: "pulseSelect"
            visible: trigger.page === 1
            listBoxTitle: qsTr("Condition")
            width: 220
            height: 68
            myListModel: [ { txt: "T < T2" }, { txt: "T > T1" }, { txt: qsTr("T > T1 et T < T2") },
                           { txt: qsTr("T < T1 ou T > T2") } ]
            current: trigger.pulseIndex
            onChosen: trigger.sendRequestPulseType(index)
        }
        Field {
            id: t1Field
            objectName: "t1"
            tag: "t1"
            visible: trigger.page === 1
            groupBoxTitle: "T1"
            doubleValue: trigger.t1Value
            minValue: trigger.t1minValue
            maxValue: trigger.t1maxValue
            unit: "s"
        }
        Field {
            id: t2Field
            objectName: "t2"
            tag: "t2"
            visible: trigger.page === 1
            groupBoxTitle: "T2"
            doubleValue: trigger.t2Value
            minValue: trigger.t1minValue
            maxValue: trigger.t1maxValue
            unit: "s"
        }

        // Delay and count pages: the qualifier's coupling, slope and level, then the delay or count.
        ListSelector {
            objectName: "qCouplingSelect"
            visible: trigger.page >= 2
            listBoxTitle: qsTr("Couplage")
            width: 160
            height: 68
            myListModel: trigger.couplingModel
            current: trigger.qcouplingIndex
            onChosen: trigger.sendRequestQualifCoupling(index)
        }
        Selector {
            objectName: "qEdgeSelect"
            visible: trigger.page >= 2
            selectBoxTitle: qsTr("Pente")
            columnNumber: 2
            itemWidth: 40
            width: 100
            myListModel: trigger.slopeModel
            current: trigger.qedgeIndex
            onChosen: trigger.sendRequestQualifEdge(index)
        }
        Field {
            id: qLevelField
            objectName: "qLevel"
            tag: "qLevel"
            visible: trigger.page >= 2
            groupBoxTitle: qsTr("Niveau")
            doubleValue: trigger.qlevelValue
            minValue: -trigger.qmaxlevelValue
            maxValue: trigger.qmaxlevelValue
            unit: "V"
        }
        Field {
            id: delayField
            objectName: "delay"
            tag: "delay"
            visible: trigger.page === 2
            groupBoxTitle: qsTr("Retard")
            doubleValue: trigger.delayValue
            minValue: trigger.delayminValue
            maxValue: trigger.delaymaxValue
            unit: "s"
        }
        Field {
            id: countField
            objectName: "count"
            tag: "count"
            visible: trigger.page === 3
            groupBoxTitle: qsTr("Comptage")
            doubleValue: trigger.countValue
            minValue: trigger.countminValue
            maxValue: trigger.countmaxValue
            decimals: 0
            scientific: false
            unit: ""
        }
    }
}
