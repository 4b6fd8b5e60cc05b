import QtQuick 2.11
import com.brovak.scope 1.0

// Tuning bar of the scope view: the channel boxes and the time-base box.
Row {
    id: tuning
    objectName: "scopeTuningPanel"
    spacing: 1

    signal channelClickedSignal(int physicalChannels, int identifier)
    signal timebaseClickedSignal()

    ScopeChannelPanel {
        id: channels
        onChannelClickedSignal: tuning.channelClickedSignal(physicalChannels, identifier)
    }

    ToolTimebase_ {
        id: timebase
        objectName: "toolTimebase"
        width: 145
        height: 70
        color: "black"
        transform: Translate {
            x: timebaseArea.pressed ? 5 : 0
            y: timebaseArea.pressed ? 5 : 0
        }

        MouseArea {
            id: timebaseArea
            anchors.fill: parent
            onClicked: tuning.timebaseClickedSignal()
        }
    }
}
