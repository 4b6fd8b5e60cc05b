import QtQuick 2.11

// Tool bar of the scope view, top to bottom: home, math (F1-F4), pass/fail, trigger,
// measurements by type, measurements by channel, save, help. The panels open through the
// signals; the view decides where.
Rectangle {
    id: toolPanel
    signal mathClicked(int channel)
    signal passFailClicked()
    signal triggerClicked()
    signal measTypeClicked()
    signal measChannelClicked()
    signal saveClicked()

    color: "#1d2630"
    clip: false

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
        ToolWithOptions {
            objectName: "mathTool"
            // Options above the other tools and the screens.
            z: 1
            source: "images/math.png"
            options: [
                { source: "images/F1.png", param: "NotDefined", value: 0 },
                { source: "images/F2.png", param: "NotDefined", value: 1 },
                { source: "images/F3.png", param: "NotDefined", value: 2 },
                { source: "images/F4.png", param: "NotDefined", value: 3 }
            ]
            onToolWithOptionsClicked: toolPanel.mathClicked(value)
        }
        Tool {
            objectName: "passFailTool"
            source: "images/passfail.png"
            param: "ZoomOff"
            onToolClicked: toolPanel.passFailClicked()
        }
        Tool {
            objectName: "triggerTool"
            source: "images/trigger.png"
            onToolClicked: toolPanel.triggerClicked()
        }
        Tool {
            objectName: "measTypeTool"
            source: "images/measTable.png"
            onToolClicked: toolPanel.measTypeClicked()
        }
        Tool {
            objectName: "measChannelTool"
            source: "images/measChannel.png"
            onToolClicked: toolPanel.measChannelClicked()
        }
        Tool {
            objectName: "saveTool"
            source: "images/save.png"
            onToolClicked: toolPanel.saveClicked()
        }
        Tool {
            objectName: "helpTool"
            source: "images/help.png"
            param: "Help"
            value: 1
        }
    }
}
