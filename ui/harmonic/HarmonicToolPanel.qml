import QtQuick 2.11
import com.brovak.scope 1.0

// Tool column of the harmonic view, top to bottom: home, fundamental frequency, power display,
// save, help. The save panel opens through displayFileSave; the view decides where.
HarmonicToolPanel_ {
    id: toolPanel
    signal displayFileSave()

    // The options of the power tool, as the "Power" box of the tuning bar asks.
    function showPowerOptions() {
        powerTool.shown = true
    }

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
        ToolWithOptions {
            objectName: "frequencyTool"
            z: 2
            source: toolPanel.filterImg
            options: [
                { source: "images/harmFreqAuto.png", param: "HarmFreq", value: 0 },
                { source: "images/harmFreq50.png", param: "HarmFreq", value: 1 },
                { source: "images/harmFreq60.png", param: "HarmFreq", value: 2 },
                { source: "images/harmFreq400.png", param: "HarmFreq", value: 3 }
            ]
        }
        ToolWithOptions {
            id: powerTool
            objectName: "powerTool"
            z: 1
            source: "images/PuissanceMonoCh1Ch4.png"
            options: [
                { source: "images/PuissanceMonoCh1Ch4.png", param: "HarmPower", value: 1 },
                { source: "images/PuissanceTriEquilPhNCh1Ch4.png", param: "HarmPower", value: 2 },
                { source: "images/PuissanceOut.png", param: "HarmPower", value: 0 }
            ]
        }
        Tool {
            objectName: "saveTool"
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
