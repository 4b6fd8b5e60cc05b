import QtQuick 2.11

// Placeholder of the view of this mode.
ModePlaceholder {
    objectName: "viewerView"
    modeName: qsTr("Viewer")
}
