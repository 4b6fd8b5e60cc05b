import QtQuick 2.11
import com.brovak.scope 1.0

// Measurement table of the harmonic view: "SIGNAL" over the RMS and distortion columns, the
// selected order over the other four with "-" and "+" beside it (a click on the order opens the
// numeric keyboard), then one row per channel in its colour and the power row in yellow.
HarmonicMeas_ {
    id: meas
    objectName: "harmonicMeas"
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    // Set while the keyboard answers for the order.
    property bool waitingForKey: false
    readonly property int cellWidth: 120
    readonly property int rowHeight: 25

    height: 165

    // The order written by a user action only: the request goes to the controller.
    function chooseOrder(order) {
        order = Math.max(1, Math.min(63, Math.round(order)))
        if (order !== meas.harmonicOrder)
            meas.harmonicOrder = order
    }

    function rowColour(index) {
        switch (index) {
        case 0: return meas.colorCh1
        case 1: return meas.colorCh2
        case 2: return meas.colorCh3
        case 3: return meas.colorCh4
        default: return "Yellow"
        }
    }

    Connections {
        target: meas.rootWindow
        function onSigCloseNumKey(value) {
            if (!meas.waitingForKey)
                return
            meas.waitingForKey = false
            meas.chooseOrder(value)
        }
    }

    Rectangle {
        anchors.fill: parent
        color: "white"
    }

    Item {
        id: titleRow
        width: parent.width
        height: 40

        Text {
            objectName: "signalTitle"
            width: 2 * meas.cellWidth
            height: parent.height
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: 18
            font.bold: true
            color: "black"
            text: qsTr("SIGNAL")
        }

        Item {
            x: 2 * meas.cellWidth
            width: 4 * meas.cellWidth
            height: parent.height

            Image {
                id: minus
                objectName: "orderMinus"
                x: 40
                anchors.verticalCenter: parent.verticalCenter
                width: 34
                height: 34
                smooth: true
                source: "images/harmOrderMinus.png"
                MouseArea {
                    anchors.fill: parent
                    onClicked: meas.chooseOrder(meas.harmonicOrder - 1)
                }
            }
            Text {
                objectName: "orderTitle"
                anchors.left: minus.right
                anchors.right: plus.left
                height: parent.height
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: 18
                font.bold: true
                color: "black"
                text: qsTr("HARMONIC ") + meas.harmonicOrder
                MouseArea {
                    objectName: "orderArea"
                    anchors.fill: parent
                    onClicked: {
                        meas.waitingForKey = true
                        meas.rootWindow.sigOpenNumKey(meas.harmonicOrder, 1, 63, 0)
                    }
                }
            }
            Image {
                id: plus
                objectName: "orderPlus"
                x: parent.width - width - 40
                anchors.verticalCenter: parent.verticalCenter
                width: 34
                height: 34
                smooth: true
                source: "images/harmOrderPlus.png"
                MouseArea {
                    anchors.fill: parent
                    onClicked: meas.chooseOrder(meas.harmonicOrder + 1)
                }
            }
        }
    }

    Column {
        objectName: "rows"
        y: titleRow.height
        Repeater {
            model: meas.measurementList
            Rectangle {
                objectName: "row" + index
                width: 6 * meas.cellWidth
                height: meas.rowHeight
                color: meas.rowColour(index)
                Row {
                    Repeater {
                        model: modelData
                        Text {
                            objectName: "cell" + index
                            width: meas.cellWidth
                            height: meas.rowHeight
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            font.pixelSize: 15
                            color: "black"
                            text: modelData
                        }
                    }
                }
            }
        }
    }
}
