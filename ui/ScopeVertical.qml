import QtQuick 2.11
import com.brovak.scope 1.0

// Vertical panel of the scope view, reduced for now to the clicked channel's title and the
// close cross; the channel-box click rule is the item's setClickedChannel().
ScopeVertical_ {
    id: vertical
    height: 105

    Rectangle {
        anchors.fill: parent
        color: "#1d2630"
        border.color: "#6c7f93"
        radius: 6
    }

    MouseArea {
        anchors.fill: parent
    }

    Text {
        objectName: "panelTitle"
        x: 16
        y: 10
        color: "white"
        font.pointSize: 14
        text: vertical.title
    }

    Image {
        objectName: "closeCross"
        anchors.right: parent.right
        anchors.rightMargin: 8
        y: 8
        width: 32
        height: 32
        smooth: true
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: dialogPanel.displayOff()
        }
    }
}
