import QtQuick 2.11

// Placeholder of the view of this mode.
ModePlaceholder {
    objectName: "meterView"
    modeName: qsTr("Multimeter")
}
