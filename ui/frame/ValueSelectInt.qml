import QtQuick 2.0

// A value in a rounded field, always with an SI prefix. A click opens the numeric keyboard of the
// root window.
Item {
    id: valueSelect
    // The root window (its id in HomeView.qml).
    property var rootWindow: homeView
    property double doubleValue: 0
    property double minValue: 0
    property double maxValue: 0
    property int decimals: 0
    property string unit: ""
    property string stringValue: ""
    signal valueClicked()

    width: 80
    height: 50

    // Sign, three significant digits, a blank, the prefix and the unit; below 1e-12, 0.
    function prefixed(value, unitText) {
        var prefixes = [[1e12, "T"], [1e9, "G"], [1e6, "M"], [1e3, "k"], [1, ""],
                        [1e-3, "m"], [1e-6, "\u00b5"], [1e-9, "n"], [1e-12, "p"]]
        var sign = value < 0 ? "-" : ""
        // Rounded first, so that 999.96 shows as 1.00 k and not as 1.00e+3.
        var magnitude = Number(Math.abs(value).toPrecision(3))
        for (var i = 0; i < prefixes.length; ++i) {
            if (magnitude >= prefixes[i][0]) {
                var scaled = Number((magnitude / prefixes[i][0]).toPrecision(3))
                return sign + scaled.toPrecision(3) + " " + prefixes[i][1] + unitText
            }
        }
        return (0).toPrecision(3) + " " + unitText
    }

    onDoubleValueChanged: stringValue = prefixed(doubleValue, unit)
    onUnitChanged: stringValue = prefixed(doubleValue, unit)
    Component.onCompleted: stringValue = prefixed(doubleValue, unit)

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: "white"
        border.color: "#404040"
        border.width: area.pressed ? 3 : 1

        Text {
            objectName: "valueText"
            anchors.fill: parent
            anchors.margins: 4
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            fontSizeMode: Text.HorizontalFit
            minimumPointSize: 12
            font.pointSize: 14
            color: "black"
            text: valueSelect.stringValue
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        onClicked: {
            valueSelect.forceActiveFocus()
            valueSelect.rootWindow.sigOpenNumKey(valueSelect.doubleValue, valueSelect.minValue,
                                                 valueSelect.maxValue, valueSelect.decimals)
            valueSelect.valueClicked()
        }
    }
}
