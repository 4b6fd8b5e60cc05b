import QtQuick 2.15
import com.brovak.scope 1.0

// Vertical panel of the scope view's dialog panel, for the channel whose box was clicked. Page 1:
// sensitivity, coupling, bandwidth limit, probe coefficient and unit; page 2: the channel colour
// and, for an active smart probe, the function of its buttons. A selector sends only a choice
// that differs from the panel's value; typed values are sent once confirmed on the keyboard.
ScopeVertical_ {
    id: vertical
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property int page: 0
    // The tag of the field that opened a keyboard, empty when none did.
    property string keySource: ""
    // Read each time the panel is enabled.
    property bool buttonSelectPossible: false
    property var sensitivityModel: []

    width: parent ? parent.width : 730
    height: 184

    // The texts depend on the probe coefficient and the unit: rebuilt after every reload.
    onDataChanged: {
        var texts = getSensitivityList()
        var model = []
        for (var i = 0; i < texts.length; ++i)
            model.push({ txt: texts[i] })
        sensitivityModel = model
    }
    onEnabledChanged: {
        if (enabled)
            buttonSelectPossible = isButtonSelectPossible() !== 0
        else
            page = 0
    }

    // Writes a value the user chose and shows it at once; the controller's notice confirms it.
    function choose(name, index, send) {
        if (index === vertical[name] || index < 0)
            return
        vertical[name] = index
        vertical.dataChanged()
        send(index)
    }
    function chooseKalvex(button, colour) {
        if (button === vertical.kalvexButtonIndex && colour === vertical.kalvexColorIndex)
            return
        vertical.kalvexButtonIndex = button
        vertical.kalvexColorIndex = colour
        vertical.dataChanged()
        vertical.sendRequestKalvex(button, colour)
    }

    Connections {
        target: vertical.rootWindow
        function onSigCloseNumKey(value) {
            if (vertical.keySource !== "probeCoeff")
                return
            vertical.keySource = ""
            // Cancel hands the shown value back: nothing to send.
            if (value !== vertical.rootWindow.threeDigits(coeffValue.doubleValue))
                vertical.sendRequestProbeCoeff(value)
        }
        function onSigCloseAlphaKey(value) {
            if (vertical.keySource !== "unit")
                return
            vertical.keySource = ""
            if (value !== vertical.unit)
                vertical.sendRequestMeasUnit(value)
        }
    }

    // A list box that shows `current` and hands a different choice over.
    component Choice: MyListBox {
        id: choice
        property int current: -1
        signal chosen(int index)
        listIndex: current
        onListIndexChanged: {
            if (listIndex === current)
                return
            var index = listIndex
            listIndex = Qt.binding(function() { return choice.current })
            chosen(index)
        }
    }

    // The same with one key per entry.
    component KeyChoice: MySelectBox {
        id: keys
        property int current: -1
        signal chosen(int index)
        itemIndex: current
        onItemIndexChanged: {
            if (itemIndex === current)
                return
            var index = itemIndex
            itemIndex = Qt.binding(function() { return keys.current })
            chosen(index)
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
        color: vertical.color
        border.color: "#404040"
    }
    Text {
        objectName: "panelTitle"
        x: 30
        y: 4
        font.pointSize: 12
        font.bold: true
        color: "black"
        text: vertical.page === 1 ? vertical.title + " - KALVEX" : vertical.title
    }

    MyButton {
        objectName: "pageSwitch"
        anchors.right: parent.right
        anchors.rightMargin: 40
        y: 3
        text: vertical.page === 0 ? "KALVEX >" : "< " + vertical.title
        onButtonClicked: vertical.page = vertical.page === 0 ? 1 : 0
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
                if (vertical.parent && vertical.parent.displayOff)
                    vertical.parent.displayOff()
            }
        }
    }

    Flow {
        x: 6
        y: 40
        width: parent.width - 12
        spacing: 6

        // Page 1.
        Choice {
            objectName: "sensitivitySelect"
            visible: vertical.page === 0
            listBoxTitle: qsTr("Sensibilite")
            width: 180
            height: 68
            myListModel: vertical.sensitivityModel
            current: vertical.sensIndex
            onChosen: vertical.choose("sensIndex", index, vertical.sendRequestSensibility)
        }
        KeyChoice {
            objectName: "couplingSelect"
            visible: vertical.page === 0
            selectBoxTitle: qsTr("Couplage")
            columnNumber: 3
            itemWidth: 44
            width: 160
            myListModel: [ { txt: "AC", enabled: 1 }, { txt: "DC", enabled: 1 }, { txt: "GND", enabled: 1 } ]
            current: vertical.couplingIndex
            onChosen: vertical.choose("couplingIndex", index, vertical.sendRequestCoupling)
        }
        Choice {
            objectName: "bwLimitSelect"
            visible: vertical.page === 0
            listBoxTitle: qsTr("Limite de bande")
            width: 170
            height: 68
            myListModel: [ { txt: qsTr("non") }, { txt: "15 MHz" }, { txt: "1.5 MHz" }, { txt: "5 kHz" } ]
            current: vertical.bwLimitIndex
            onChosen: vertical.choose("bwLimitIndex", index, vertical.sendRequestBwLimit)
        }
        MyGroupBox {
            objectName: "probeCoeffBox"
            visible: vertical.page === 0
            groupBoxTitle: qsTr("Coef. sonde")
            width: 110
            height: 68
            ValueSelect {
                id: coeffValue
                objectName: "probeCoeffValue"
                rootWindow: vertical.rootWindow
                anchors.horizontalCenter: parent.horizontalCenter
                y: 12
                width: 96
                height: 44
                scientific: false
                decimals: 3
                minValue: 0.001
                maxValue: 100000
                doubleValue: vertical.probeCoeff
                onValueClicked: vertical.keySource = "probeCoeff"
            }
        }
        MyGroupBox {
            objectName: "unitBox"
            visible: vertical.page === 0
            groupBoxTitle: qsTr("Unite")
            width: 70
            height: 68
            StringSelect {
                objectName: "unitValue"
                rootWindow: vertical.rootWindow
                anchors.horizontalCenter: parent.horizontalCenter
                y: 12
                width: 56
                height: 44
                length: 3
                stringValue: vertical.unit
                onValueClicked: vertical.keySource = "unit"
            }
        }

        // Page 2: the channel colour, and the buttons of an active smart probe.
        KeyChoice {
            id: colourSelect
            objectName: "colourSelect"
            visible: vertical.page === 1
            selectBoxTitle: qsTr("Couleur")
            columnNumber: 4
            itemWidth: 76
            width: 340
            myListModel: [ { txt: qsTr("vert"), enabled: 1 }, { txt: qsTr("rouge"), enabled: 1 },
                           { txt: qsTr("bleu"), enabled: 1 }, { txt: qsTr("magenta"), enabled: 1 } ]
            current: vertical.kalvexColorIndex
            onChosen: vertical.chooseKalvex(vertical.kalvexButtonIndex, index)
        }
        Choice {
            objectName: "buttonSelect"
            visible: vertical.page === 1 && vertical.buttonSelectPossible
            listBoxTitle: qsTr("Boutons de la sonde")
            width: 300
            height: 68
            myListModel: [ { txt: qsTr("sensibilite +/-") }, { txt: qsTr("cadrage vertical +/-") },
                           { txt: qsTr("base de temps +/-") }, { txt: qsTr("cadrage horizontal +/-") },
                           { txt: qsTr("front decl./run-hold") }, { txt: qsTr("auto mes./ref.mes") },
                           { txt: qsTr("auto chx/auto 50%") } ]
            current: vertical.kalvexButtonIndex
            onChosen: vertical.chooseKalvex(index, vertical.kalvexColorIndex)
        }
    }
}
