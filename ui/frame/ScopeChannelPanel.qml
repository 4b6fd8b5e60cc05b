import QtQuick 2.11
import com.brovak.scope 1.0

// The channel boxes of the tuning bar, one per channel the hardware has (channels 1 and 4 on
// the two-channel model). A click tells which box was hit.
Row {
    id: panel
    objectName: "scopeChannelPanel"
    spacing: 1

    signal channelClickedSignal(int physicalChannels, int identifier)

    Repeater {
        model: 4
        ToolChannel_ {
            id: box
            objectName: "toolChannel" + (index + 1)
            identifier: index
            width: 145
            height: 70
            transform: Translate {
                x: area.pressed ? 5 : 0
                y: area.pressed ? 5 : 0
            }
            // The model never changes while the program runs: read once.
            Component.onCompleted: visible = (physicalChannels & (1 << index)) !== 0 || physicalChannels === 0

            MouseArea {
                id: area
                anchors.fill: parent
                anchors.topMargin: 20
                onClicked: panel.channelClickedSignal(box.physicalChannels, box.identifier)
            }
        }
    }
}
