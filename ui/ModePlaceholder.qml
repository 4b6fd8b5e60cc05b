import QtQuick 2.11

// Stands for a mode view until that view is built: covers the window as the view will, names
// the mode and offers the home tool. Like every mode view it goes on screenRazSignal, and its
// destruction lets the root create the next view.
Rectangle {
    id: view
    property string modeName: ""
    property bool leaving: false

    function leave() {
        // The signal may come again while the view is on its way out.
        if (leaving)
            return
        leaving = true
        view.destroy()
    }

    anchors.fill: parent
    color: "#101418"

    Component.onCompleted: homeView.screenRazSignal.connect(view.leave)
    Component.onDestruction: {
        homeView.screenRazSignal.disconnect(view.leave)
        // Only a view that left for a mode change asks for the next one; a view that goes with
        // the window does not.
        if (leaving)
            homeView.childKilled()
    }

    // Touches stay on this view; the home screen under it takes none.
    MouseArea {
        anchors.fill: parent
    }

    Rectangle {
        width: parent.width
        height: 56
        color: "#1d2630"

        Tool {
            objectName: "homeTool"
            x: 8
            y: 7
            source: "images/home.png"
            param: "ScopeMode"
            value: 0x8000
        }
    }

    Text {
        objectName: "modeName"
        anchors.centerIn: parent
        color: "white"
        font.pointSize: 20
        text: view.modeName
    }
}
