import QtQuick 2.11
import com.brovak.scope 1.0

// Tool column of the viewer, top to bottom: home, next recording, previous recording, event
// filter, help.
Item {
    id: toolPanel
    signal nextFile()
    signal previousFile()
    signal displayFilter()

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    Column {
        x: 14
        y: 8
        spacing: 12

        Tool {
            objectName: "homeTool"
            source: "images/home.png"
            param: "ScopeMode"
            value: 0x8000
        }
        Tool {
            objectName: "nextTool"
            source: "images/viewer_next.png"
            onToolClicked: toolPanel.nextFile()
        }
        Tool {
            objectName: "previousTool"
            source: "images/viewer_previous.png"
            onToolClicked: toolPanel.previousFile()
        }
        Tool {
            objectName: "filterTool"
            source: "images/viewer_filter.png"
            onToolClicked: toolPanel.displayFilter()
        }
        Tool {
            objectName: "helpTool"
            source: "images/help.png"
            param: "Help"
            value: 1
        }
    }
}
