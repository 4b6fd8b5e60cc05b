import QtQuick 2.11
import com.brovak.scope 1.0

// Placeholder of the view of this mode, holding the real recorder panel: recording runs while the
// panel exists, and the meter tool ends it.
ModePlaceholder {
    objectName: "loggerView"
    modeName: qsTr("Logger")

    Tool {
        objectName: "meterTool"
        x: 58
        y: 7
        source: "images/meter.png"
        param: "ScopeMode"
        value: 0x80
    }

    LoggerPanel_ {
        id: loggerPanel
        objectName: "loggerPanel"
        x: 0
        y: 56
        width: parent.width
        Component.onCompleted: loggerPanel.setLayout()
    }
}
