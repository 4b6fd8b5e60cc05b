import QtQuick 2.15
import com.brovak.scope 1.0

// The list panel of the viewer: the filter's description as the title, the events three a row,
// the selected number and the save button.
Item {
    id: panel
    objectName: "viewerEventListPanel"
    // The viewer view: its list, its maximum count and its save.
    property var viewerView: null
    property var events: viewerView ? viewerView.displayEventList : []
    property int maxEventNumber: viewerView ? viewerView.maxEventNumber : 200
    property int selectedNumber: 0
    // The filter's description (source, levels, duration), set by the view.
    property string filterText: ""
    readonly property int eventCount: events ? events.length : 0
    readonly property string title: filterText
        + (eventCount > 0 ? " - (" + selectedNumber + "/" + eventCount + (eventCount === maxEventNumber ? "+" : "") + ")"
                          : " - (-/0)")

    width: parent ? parent.width : 730
    height: 300

    onEventsChanged: list.displayEventList(events ? events : [])

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }
    Text {
        objectName: "listTitle"
        x: 10; y: 8
        width: closeButton.x - 20
        height: 22
        font.pointSize: 12
        fontSizeMode: Text.HorizontalFit
        minimumPointSize: 8
        text: panel.title
    }
    // Closes the panel as its tool does.
    MyButton {
        id: closeButton
        objectName: "closeButton"
        x: panel.width - width - 8; y: 6
        text: "\u00d7"
        onButtonClicked: if (panel.parent && panel.parent.displayOff) panel.parent.displayOff()
    }
    ViewerEventList_ {
        id: list
        objectName: "viewerEventList"
        x: 10; y: 36
        width: 600
        height: parent.height - 46
        onEventSelectedChanged: panel.selectedNumber = evNum + 1
    }
    MyButton {
        objectName: "saveButton"
        x: 630; y: 40
        text: qsTr("Sauver")
        onButtonClicked: if (panel.viewerView) panel.viewerView.saveEventList(panel.title)
    }
}
