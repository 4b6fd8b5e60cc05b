import QtQuick 2.11
import com.brovak.scope 1.0

// The smart-probe overview over the whole screen: a header and one box per input in the
// channel's colour with its ratings. The item shows and hides itself; a touch anywhere hides it.
KalvexOverview_ {
    id: overview
    anchors.fill: parent

    readonly property var entryX: [20, 80, 80, 240, 240, 400, 80]
    readonly property var entryY: [40, 9, 30, 9, 30, 9, 56]
    readonly property var entryWidth: [40, 150, 150, 150, 150, 150, 470]

    Rectangle {
        anchors.fill: parent
        color: "lightgrey"
        opacity: 0.8
    }

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 0

        // The headings shrink to their column in a longer language rather than run past it.
        Rectangle {
            objectName: "kalvexHeader"
            width: 550
            height: 20
            color: "white"
            Text { x: 80; width: 150; height: 20; font.pointSize: 12; fontSizeMode: Text.Fit; minimumPointSize: 7; text: qsTr("Entree:") }
            Text { x: 240; width: 150; height: 20; font.pointSize: 12; fontSizeMode: Text.Fit; minimumPointSize: 7; text: qsTr("Entree flottante:") }
            Text { x: 400; width: 150; height: 20; font.pointSize: 12; fontSizeMode: Text.Fit; minimumPointSize: 7; text: qsTr("Entre voies:") }
        }

        Repeater {
            model: 4
            Rectangle {
                id: box
                objectName: "kalvexBox" + (index + 1)
                readonly property var entries: index === 0 ? overview.kalvexListCh1
                                              : index === 1 ? overview.kalvexListCh2
                                              : index === 2 ? overview.kalvexListCh3 : overview.kalvexListCh4
                width: 550
                height: 110
                radius: 10
                border.color: "black"
                border.width: 3
                color: index === 0 ? overview.colorCh1
                     : index === 1 ? overview.colorCh2
                     : index === 2 ? overview.colorCh3 : overview.colorCh4

                Repeater {
                    model: 7
                    Text {
                        objectName: "entry" + index
                        x: overview.entryX[index]
                        y: overview.entryY[index]
                        width: overview.entryWidth[index]
                        height: index === 6 ? 43 : 24
                        font.pointSize: index === 0 ? 15 : 12
                        font.bold: index === 0
                        wrapMode: index === 6 ? Text.WordWrap : Text.NoWrap
                        elide: index === 0 ? Text.ElideNone : Text.ElideRight
                        color: "black"
                        text: box.entries && box.entries.length > index ? box.entries[index] : ""
                    }
                }
            }
        }
    }
}
