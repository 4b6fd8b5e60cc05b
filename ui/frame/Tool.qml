import QtQuick 2.11
import com.brovak.scope 1.0

// Icon button of 42 x 42 pixels with an optional white label under it.
Tool_ {
    id: tool
    property string label: ""
    width: 42
    height: 42

    Text {
        visible: tool.label !== ""
        anchors.top: parent.bottom
        anchors.topMargin: 4
        anchors.horizontalCenter: parent.horizontalCenter
        color: "white"
        font.pointSize: 8
        text: tool.label
    }
}
