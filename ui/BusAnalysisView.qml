import QtQuick 2.11

// Placeholder of the view of this mode, with the diagnosis switch beside the home tool: each
// touch starts a diagnosis of the loaded bus file or stops the running one.
ModePlaceholder {
    objectName: "busAnalysisView"
    modeName: qsTr("Bus")

    Tool {
        objectName: "busDiagTool"
        x: 58
        y: 7
        source: "images/bus.png"
        param: "BusDiag"
    }
}
