import QtQuick 2.11
import com.brovak.scope 1.0

// Tool column of the meter view, top to bottom: home, recorder, channel 1's function, power
// wiring, frequency, statistics, relative value, save, help. The save tool asks the view for its
// panel.
MeterToolPanel_ {
    id: toolPanel
    signal displayFileSave()

    // The option list of the power tool; the three-phase wiring needs four channels.
    property var powerOptions: [
        { source: "images/PuissanceMonoCh1Ch4.png", param: "MeterMeasType", value: 8 },
        { source: "images/PuissanceTri.png", param: "MeterMeasType", value: 9 },
        { source: "images/PuissanceTriEquil2PhCh1Ch4.png", param: "MeterMeasType", value: 11 },
        { source: "images/PuissanceTriEquilPhNCh1Ch4.png", param: "MeterMeasType", value: 10 }
    ]

    Component.onCompleted: {
        if (!toolPanel.is2wattmeterMeasAvailable()) {
            var options = toolPanel.powerOptions
            options[1].visible = false
            toolPanel.powerOptions = options
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
    }

    Column {
        x: 14
        y: 4
        spacing: 6

        Tool {
            objectName: "homeTool"
            source: "images/home.png"
            param: "ScopeMode"
            value: 0x8000
        }
        Tool {
            objectName: "recorderTool"
            source: "images/logger.png"
            param: "ScopeMode"
            value: 0x82
        }
        ToolWithOptions {
            objectName: "functionTool"
            // Options above the other tools and the boxes.
            z: 2
            source: "images/channel1.png"
            options: [
                { source: "images/ch1_amplitude.png", param: "MeterMeasType", value: 0 },
                { source: "images/ch1_ohm.png", param: "MeterMeasType", value: 1 },
                { source: "images/ch1_continuity.png", param: "MeterMeasType", value: 2 },
                { source: "images/ch1_capa.png", param: "MeterMeasType", value: 3 },
                { source: "images/ch1_diode.png", param: "MeterMeasType", value: 4 }
            ]
        }
        ToolWithOptions {
            objectName: "powerTool"
            z: 1
            source: "images/meter_power.png"
            optionWidth: 124
            optionHeight: 75
            options: toolPanel.powerOptions
        }
        Tool {
            objectName: "frequencyTool"
            source: "images/meter_frequency.png"
            param: "MeterAuxMeas"
            value: 0
        }
        Tool {
            objectName: "statisticsTool"
            source: "images/meter_statistics.png"
            param: "MeterAuxMeas"
            value: 1
        }
        Tool {
            objectName: "relativeTool"
            source: "images/meter_relative.png"
            param: "MeterAuxMeas"
            value: 2
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
