import QtQuick 2.15
import com.brovak.scope 1.0

// The viewer's event filter panel: source, type, the two levels in the source's unit and the
// minimum duration, the search and the count of the events found. Controls show the setup as the
// item reads it and post only the user's changes, so opening the panel posts nothing.
ViewerEventFilter_ {
    id: filter
    objectName: "viewerEventFilter"
    // The root window (its id in HomeView.qml) and the viewer view (search, list, count).
    property var rootWindow: homeView
    property var viewerView: null
    // The tag of the numeric field that opened the keyboard, empty when none did.
    property string keySource: ""
    property int eventCount: -1
    signal showList()

    width: parent ? parent.width : 730
    height: 184

    onCounterChanged: eventCount = n

    function closeNumKey(value) {
        var tag = keySource
        keySource = ""
        var field = fieldOf(tag)
        if (!field || value === rootWindow.threeDigits(field.doubleValue))
            return
        switch (tag) {
        case "level1": filter.sendRequestLevel1(value); break
        case "level2": filter.sendRequestLevel2(value); break
        case "duration": filter.sendRequestDuration(value); break
        }
    }
    function fieldOf(tag) {
        switch (tag) {
        case "level1": return level1Field
        case "level2": return level2Field
        case "duration": return durationField
        }
        return null
    }
    function countText() {
        return (eventCount > 199 ? "> " : "") + eventCount + " event(s) found"
    }

    Connections {
        target: filter.rootWindow
        function onSigCloseNumKey(value) {
            if (filter.keySource !== "")
                filter.closeNumKey(value)
        }
    }

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

    component Field: MyGroupBox {
        id: box
        property string tag: ""
        property alias doubleValue: value.doubleValue
        property alias minValue: value.minValue
        property alias maxValue: value.maxValue
        property alias unit: value.unit
        width: 130
        height: 68
        ValueSelect {
            id: value
            objectName: box.objectName + "Value"
            rootWindow: filter.rootWindow
            anchors.horizontalCenter: parent.horizontalCenter
            y: 12
            width: 116
            height: 44
            decimals: 3
            scientific: false
            onValueClicked: filter.keySource = box.tag
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }

    ListSelector {
        objectName: "sourceSelect"
        x: 10; y: 10; width: 150
        listBoxTitle: qsTr("Source")
        myListModel: [ { txt: "CH1" }, { txt: "CH2" }, { txt: "CH3" }, { txt: "CH4" } ]
        current: filter.sourceIndex
        onChosen: filter.sendRequestSource(index)
    }
    ListSelector {
        objectName: "typeSelect"
        x: 170; y: 10; width: 300
        listBoxTitle: qsTr("Type")
        // No type in the setup (its default): the box asks for one; the longest type shrinks.
        placeholder: qsTr("choose a type")
        fitText: true
        myListModel: ViewerEventType {}
        current: filter.typeIndex
        onChosen: filter.sendRequestType(index)
    }
    Field {
        id: level1Field
        objectName: "level1"
        tag: "level1"
        x: 10; y: 90
        groupBoxTitle: "L1"
        doubleValue: filter.level1Value
        minValue: -filter.maxLevel1Value
        maxValue: filter.maxLevel1Value
        unit: filter.verticalUnit
    }
    Field {
        id: level2Field
        objectName: "level2"
        tag: "level2"
        x: 150; y: 90
        groupBoxTitle: "L2"
        doubleValue: filter.level2Value
        minValue: -filter.maxLevel2Value
        maxValue: filter.maxLevel2Value
        unit: filter.verticalUnit
    }
    Field {
        id: durationField
        objectName: "duration"
        tag: "duration"
        x: 290; y: 90
        groupBoxTitle: qsTr("Durée")
        doubleValue: filter.durationValue
        minValue: 1
        maxValue: filter.maxDurationValue
        unit: "s"
    }
    MyButton {
        objectName: "searchButton"
        x: 480; y: 30
        text: qsTr("Rechercher")
        onButtonClicked: if (filter.viewerView) filter.viewerView.searchClicked()
    }
    MyButton {
        objectName: "listButton"
        x: 600; y: 30
        text: qsTr("Liste")
        enabled: filter.eventCount > 0
        opacity: enabled ? 1.0 : 0.3
        onButtonClicked: filter.showList()
    }
    Text {
        objectName: "countText"
        x: 480; y: 110
        visible: filter.eventCount >= 0
        font.pointSize: 14
        text: filter.countText()
    }
}
