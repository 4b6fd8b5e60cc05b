import QtQuick 2.11
import com.brovak.scope 1.0

// Key help overlay: covers the window while the key help is on, so that touches do not reach the
// view below; touching the text ends the help.
KeyHelp_ {
    id: keyHelp

    onSigHelpMsg: {
        helpText.text = str
        keyImage.source = imgFile === "" ? "" : "qrc:/images/Touches/" + imgFile
    }

    // Swallows the touches outside the text.
    MouseArea {
        anchors.fill: parent
    }

    Rectangle {
        anchors.fill: parent
        color: "#80000000"
    }

    MyGroupBox {
        objectName: "keyHelpBox"
        anchors.centerIn: parent
        width: 600
        height: 320
        color: "white"
        groupBoxTitle: qsTr("aide clavier")

        Image {
            id: keyImage
            objectName: "keyHelpImage"
            x: 20
            y: 30
            visible: source != ""
            // Large pictures are shown smaller in the dimension where they are large.
            width: implicitWidth > 200 ? 120 : 48
            height: implicitHeight > 200 ? 120 : 48
        }

        Text {
            id: helpText
            objectName: "keyHelpText"
            x: 90
            y: 30
            width: parent.width - 110
            height: parent.height - 50
            textFormat: Text.RichText
            wrapMode: Text.WordWrap
            font.pointSize: 12
            color: "black"

            MouseArea {
                objectName: "keyHelpTextArea"
                anchors.fill: parent
                onClicked: keyHelp.exit()
            }
        }
    }
}
