import QtQuick 2.11
import com.brovak.scope 1.0

// Tuning bar of the harmonic view: the channel boxes of the scope views and the "Power" button.
Row {
    id: tuning
    objectName: "harmonicTuningPanel"
    spacing: 1

    signal channelClickedSignal(int physicalChannels, int identifier)
    signal powerClickedSignal()

    ScopeChannelPanel {
        onChannelClickedSignal: tuning.channelClickedSignal(physicalChannels, identifier)
    }

    ToolPower_ {
        objectName: "toolPower"
        width: 145
        height: 70
        color: "black"
        transform: Translate {
            x: powerArea.pressed ? 5 : 0
            y: powerArea.pressed ? 5 : 0
        }

        MouseArea {
            id: powerArea
            anchors.fill: parent
            onClicked: tuning.powerClickedSignal()
        }
    }
}
