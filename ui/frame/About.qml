import QtQuick 2.11
import com.brovak.scope 1.0

// About screen over a grey veil; any touch closes it.
About_ {
    id: about
    objectName: "about"
    anchors.fill: parent
    property bool urlVisible: false

    Component.onCompleted: {
        var versions = about.getSoftVersion()
        var rows = []
        for (var i = 0; i < about.getSoftCount(); ++i)
            rows.push(versions[i])
        versionList.model = rows
    }

    Rectangle {
        anchors.fill: parent
        color: "#a0808080"
    }

    MyGroupBox {
        id: aboutBox
        objectName: "aboutBox"
        anchors.centerIn: parent
        width: 420
        height: 360
        color: "white"
        groupBoxTitle: "Tavlin IV"

        ListView {
            id: versionList
            objectName: "versionList"
            x: 20
            y: 30
            width: parent.width - 40
            height: parent.height - 50
            clip: true
            delegate: Text {
                text: modelData
                font.pointSize: 11
                color: "black"
                height: 26
            }
        }
    }

    Text {
        objectName: "supportAddress"
        anchors.top: aboutBox.bottom
        anchors.topMargin: 10
        anchors.horizontalCenter: parent.horizontalCenter
        visible: about.urlVisible
        color: "white"
        font.pointSize: 12
        text: "www.example.com/support"
    }

    // Above everything of the screen: any touch closes it.
    MouseArea {
        objectName: "aboutClose"
        anchors.fill: parent
        z: 1
        onClicked: about.destroy()
    }
}
