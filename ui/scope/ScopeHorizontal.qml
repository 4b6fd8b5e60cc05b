import QtQuick 2.15
import com.brovak.scope 1.0

// Horizontal panel of the scope view's dialog panel: the display format chooses the page (time,
// FFT, XY). A selector sends only a choice that differs from the panel's value, writing the value
// first; a reload from the controller's notice moves the selectors and sends nothing.
ScopeHorizontal_ {
    id: horizontal
    // The page shown: follows the user's format choice at once, and the setup on every reload.
    property int page: 0

    width: parent ? parent.width : 730
    height: 184

    onDataChanged: {
        if (domainUpdate)
            page = Math.max(0, Math.min(2, typeIndex))
    }

    // Writes a value the user chose and shows it at once; the controller's notice confirms it.
    function choose(name, index, send) {
        if (index === horizontal[name])
            return
        horizontal[name] = index
        horizontal.valuesChanged()
        send(index)
    }

    // A list box that shows `current` and hands a different choice over.
    component Choice: MyListBox {
        id: choice
        property int current: -1
        signal chosen(int index)
        listIndex: current
        onListIndexChanged: {
            if (listIndex === current)
                return
            var index = listIndex
            listIndex = Qt.binding(function() { return choice.current })
            chosen(index)
        }
    }

    // A check box that shows `current` and hands the new state over.
    component Option: Checkbox {
        id: option
        property bool current: false
        signal toggled(bool on)
        checked: current
        onClicked: {
            var on = checked
            checked = Qt.binding(function() { return option.current })
            toggled(on)
        }
    }

    readonly property var timeBaseModel: [
        { txt: "1 ns" }, { txt: "2 ns" }, { txt: "5 ns" }, { txt: "10 ns" }, { txt: "25 ns" },
        { txt: "50 ns" }, { txt: "100 ns" }, { txt: "200 ns" }, { txt: "500 ns" },
        { txt: "1 \u03bcs" }, { txt: "2 \u03bcs" }, { txt: "4 \u03bcs" }, { txt: "10 \u03bcs" },
        { txt: "20 \u03bcs" }, { txt: "50 \u03bcs" }, { txt: "100 \u03bcs" }, { txt: "200 \u03bcs" },
        { txt: "500 \u03bcs" },
        { txt: "1 ms" }, { txt: "2 ms" }, { txt: "5 ms" }, { txt: "10 ms" }, { txt: "20 ms" },
        { txt: "40 ms" }, { txt: "100 ms" }, { txt: "200 ms" }, { txt: "500 ms" },
        { txt: "1 s" }, { txt: "2 s" }, { txt: "5 s" }, { txt: "10 s" }, { txt: "20 s" }, { txt: "50 s" },
        { txt: "100 s" }, { txt: "200 s" }
    ]

    Rectangle {
        anchors.fill: parent
        color: "#f0f0f0"
        border.color: "#404040"
        border.width: 1
    }

    Text {
        objectName: "panelTitle"
        x: 10
        y: 4
        font.pointSize: 12
        font.bold: true
        color: "black"
        text: horizontal.title
    }

    Image {
        objectName: "closeCross"
        anchors.right: parent.right
        anchors.rightMargin: 6
        y: 2
        width: 24
        height: 24
        sourceSize: Qt.size(48, 48)
        source: "images/CloseCross.png"
        MouseArea {
            anchors.fill: parent
            onClicked: {
                if (horizontal.parent && horizontal.parent.displayOff)
                    horizontal.parent.displayOff()
            }
        }
    }

    Flow {
        x: 6
        y: 36
        width: parent.width - 12
        spacing: 6

        MySelectBox {
            id: typeSelect
            objectName: "typeSelect"
            selectBoxTitle: qsTr("Format")
            columnNumber: 3
            itemWidth: 50
            width: 190
            myListModel: [ { txt: "Y(t)", enabled: 1 }, { txt: "FFT", enabled: 1 }, { txt: "XY", enabled: 1 } ]
            itemIndex: horizontal.page
            onItemIndexChanged: {
                if (itemIndex === horizontal.page)
                    return
                var index = itemIndex
                itemIndex = Qt.binding(function() { return horizontal.page })
                horizontal.page = index
                horizontal.choose("typeIndex", index, horizontal.sendRequestType)
            }
        }

        Choice {
            objectName: "timebaseSelect"
            listBoxTitle: qsTr("Base de temps")
            width: 220
            height: 68
            myListModel: horizontal.timeBaseModel
            current: horizontal.timebaseIndex
            onChosen: {
                if (index !== -1)
                    horizontal.choose("timebaseIndex", index, horizontal.sendRequestTimeBase)
            }
        }

        ModeSelect {
            id: modeSelect
            objectName: "modeSelect"
            width: 250
            height: 68
            listIndex: horizontal.modeIndex
            onListIndexChanged: {
                if (listIndex === horizontal.modeIndex)
                    return
                var index = listIndex
                listIndex = Qt.binding(function() { return horizontal.modeIndex })
                horizontal.choose("modeIndex", index, horizontal.sendRequestMode)
            }
        }

        // Time and XY pages: averaging (shown as none while the signal is not repetitive).
        Choice {
            objectName: "averageSelect"
            visible: horizontal.page !== 1
            listBoxTitle: qsTr("Moyennage")
            width: 170
            height: 68
            myListModel: [ { txt: qsTr("non") }, { txt: "2" }, { txt: "4" }, { txt: "16" }, { txt: "64" } ]
            current: horizontal.repsigValue ? horizontal.averageIndex : 0
            onChosen: horizontal.choose("averageIndex", index, horizontal.sendRequestAverage)
        }

        // FFT page: window and vertical scale.
        Choice {
            objectName: "windowSelect"
            visible: horizontal.page === 1
            listBoxTitle: qsTr("Fenetre")
            width: 220
            height: 68
            myListModel: [ { txt: qsTr("Rectangulaire") }, { txt: "Hamming" }, { txt: "Hanning" },
                           { txt: "Blackman" }, { txt: "Flat top" } ]
            current: horizontal.windowIndex
            onChosen: horizontal.choose("windowIndex", index, horizontal.sendRequestWindow)
        }
        Choice {
            objectName: "scaleSelect"
            visible: horizontal.page === 1
            listBoxTitle: qsTr("Echelle")
            width: 220
            height: 68
            myListModel: [ { txt: qsTr("echelle lineaire") }, { txt: qsTr("echelle log.") } ]
            current: horizontal.scaleIndex
            onChosen: horizontal.choose("scaleIndex", index, horizontal.sendRequestFftVerticalScale)
        }

        // XY page: the two sources.
        Choice {
            objectName: "xSourceSelect"
            visible: horizontal.page === 2
            listBoxTitle: qsTr("Source X")
            width: 150
            height: 68
            myListModel: [ { txt: "X: CH1" }, { txt: "X: CH2" }, { txt: "X: CH3" }, { txt: "X: CH4" } ]
            current: horizontal.xSourceIndex
            onChosen: horizontal.choose("xSourceIndex", index, horizontal.sendRequestXSource)
        }
        Choice {
            objectName: "ySourceSelect"
            visible: horizontal.page === 2
            listBoxTitle: qsTr("Source Y")
            width: 150
            height: 68
            myListModel: [ { txt: "Y: CH1" }, { txt: "Y: CH2" }, { txt: "Y: CH3" }, { txt: "Y: CH4" } ]
            current: horizontal.ySourceIndex
            onChosen: horizontal.choose("ySourceIndex", index, horizontal.sendRequestYSource)
        }

        // Time and XY pages: the acquisition options.
        MyGroupBox {
            objectName: "optionsBox"
            visible: horizontal.page !== 1
            groupBoxTitle: qsTr("Acquisition")
            width: horizontal.page === 0 ? 320 : 180
            height: 68
            Row {
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                spacing: 12
                Option {
                    objectName: "repsigBox"
                    name: qsTr("Signal repetitif")
                    current: horizontal.repsigValue
                    onToggled: {
                        horizontal.repsigValue = on
                        horizontal.valuesChanged()
                        horizontal.sendRequestRepsig(on)
                    }
                }
                Option {
                    objectName: "minmaxBox"
                    visible: horizontal.page === 0
                    name: qsTr("Min/max")
                    current: horizontal.minmaxValue
                    onToggled: {
                        horizontal.minmaxValue = on
                        horizontal.valuesChanged()
                        horizontal.sendRequestMinMax(on)
                    }
                }
            }
        }
        MyGroupBox {
            objectName: "savrelGroup"
            visible: horizontal.page === 0
            groupBoxTitle: qsTr("Memoire")
            width: 200
            height: 68
            Option {
                objectName: "savrelBox"
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 6
                name: qsTr("Sauvegarde/Relance")
                current: horizontal.savrelValue
                onToggled: {
                    horizontal.savrelValue = on
                    horizontal.valuesChanged()
                    horizontal.sendRequestSavRel(on)
                }
            }
        }
    }
}
