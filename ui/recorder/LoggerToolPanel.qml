import QtQuick 2.11
import com.brovak.scope 1.0

// Tool column of the recorder view, top to bottom: home, back to the meter (the recording ends
// with the view), save, help. The save tool asks the view for its panel.
Item {
    id: toolPanel
    signal displayFileSave()

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
            objectName: "meterTool"
            source: "images/meter.png"
            param: "ScopeMode"
            value: 0x80
        }
        Tool {
            objectName: "fileTool"
            source: "images/save.png"
            onToolClicked: toolPanel.displayFileSave()
        }
        Tool {
            objectName: "helpTool"
            source: "images/help.png"
            param: "Help"
            value: 1
        }
    }
}
