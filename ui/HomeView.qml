import QtQuick 2.11
import com.brovak.scope 1.0

// Minimal root window: shows the number of the last screen message, so the controller's
// messages can be seen arriving.
HomeView_ {
    id: root
    width: 800
    height: 480
    color: "black"
    title: "benchview"

    property int lastMessage: 0

    onScreenMessageSignal: root.lastMessage = number

    Text {
        objectName: "messageNumber"
        anchors.centerIn: parent
        color: "white"
        font.pixelSize: 32
        text: "Last message: " + root.lastMessage
    }
}
