import QtQuick 2.11
import com.brovak.scope 1.0

// Root window and home screen: the five mode tools, the network state, the brand, the update
// offer and the tools that hand over to other programs. The view of the current mode is created
// as a child of this window and covers it.
HomeView_ {
    id: homeView
    width: 800
    height: 480
    color: "#101418"
    title: "benchview"

    // The shared keyboards: panels open them with the sigOpen signals and get the answer
    // through the sigClose signals.
    signal sigOpenNumKey(double value, double min, double max, int dec)
    signal sigOpenFctKey(string value)
    signal sigOpenAlphaKey(string value, int length)
    signal sigCloseNumKey(double value)
    signal sigCloseFctKey(string value)
    signal sigCloseAlphaKey(string value)

    // The numeric keyboard's values are shown with three significant digits.
    function threeDigits(value) {
        return isFinite(value) && value !== 0 ? Number(value.toPrecision(3)) : value
    }

    onSigOpenNumKey: {
        numericKeyboard.doubleValue = threeDigits(value)
        numericKeyboard.minValue = threeDigits(min)
        numericKeyboard.maxValue = threeDigits(max)
        numericKeyboard.decimals = dec
        numericKeyboard.open()
    }
    onSigOpenFctKey: {
        functionKeyboard.textInputValue = value
        functionKeyboard.open()
    }
    onSigOpenAlphaKey: {
        alphaKeyboard.textInputValue = value
        alphaKeyboard.maxCarNb = length
        alphaKeyboard.open()
    }

    readonly property int noView: 0x8000
    // Set when the window itself goes: no view is created any more.
    property bool goingAway: false

    function refreshNetwork() {
        networkIcon.source = homeView.communicationIcon
        ipAddressText.text = homeView.ipAddress
    }

    Component.onCompleted: {
        updateOffer.visible = homeView.isUpdateAvailable()
        modeTools.model = [
            { source: "images/scope.png", value: 0x10, key: "Oscilloscope", label: qsTr("Oscilloscope") },
            { source: "images/meter.png", value: 0x80, key: "Multimeter", label: qsTr("Multimeter") },
            { source: "images/logger.png", value: 0x82, key: "Logger", label: qsTr("Logger") },
            { source: "images/harmonic.png", value: 0x40, key: "Harmonic", label: qsTr("Harmonic") },
            { source: "images/bus.png", value: 0x11, key: "Bus", label: qsTr("Bus") }
        ]
    }

    Component.onDestruction: goingAway = true

    onComplete: {
        kalvexOverview.setActive()
        keyHelp.setActive()
        messageBox.setActive()
        homeView.refreshConfigSignal()
    }

    onRefreshConfigSignal: refreshNetwork()

    onDisplayBrandSignal: brand.visible = b_a_brandVisible

    onRefreshInfoToolSignal: infoTool.visible = b_a_displayIcon

    onCreateInstrumentSignal: {
        if (goingAway)
            return
        numericKeyboard.visible = false
        alphaKeyboard.visible = false
        functionKeyboard.visible = false
        // scopeMode is read here, never bound: it changes without notice.
        var mode = homeView.scopeMode
        var file = homeView.viewOfMode(mode)
        if (file !== "") {
            // Created before this handler returns: a mode change that follows finds the view.
            var component = Qt.createComponent(file)
            if (component.status === Component.Ready)
                component.createObject(homeView.contentItem)
            else
                console.warn("benchview: cannot create " + file + ": " + component.errorString())
        }
        if (mode !== noView)
            homeView.screenMaj(0)
    }

    // The network state is read again every 2 s.
    Timer {
        objectName: "configTimer"
        interval: 2000
        repeat: true
        running: true
        onTriggered: homeView.refreshConfigSignal()
    }

    // Top bar.
    Rectangle {
        id: topBar
        objectName: "topBar"
        x: 0
        y: 0
        width: homeView.width
        height: 56
        color: "#1d2630"

        Row {
            anchors.left: parent.left
            anchors.leftMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            spacing: 12

            Image {
                id: infoTool
                objectName: "infoTool"
                width: 36
                height: 36
                anchors.verticalCenter: parent.verticalCenter
                source: "/images/copyRunning.png"
                sourceSize: Qt.size(72, 72)
                visible: false
            }
            Image {
                id: brand
                objectName: "brand"
                width: 120
                height: 29
                anchors.verticalCenter: parent.verticalCenter
                source: "images/brovak.png"
                visible: false
            }
            Image {
                id: networkIcon
                objectName: "networkIcon"
                width: 32
                height: 32
                anchors.verticalCenter: parent.verticalCenter
                sourceSize: Qt.size(64, 64)
            }
            Text {
                id: ipAddressText
                objectName: "ipAddress"
                anchors.verticalCenter: parent.verticalCenter
                color: "white"
            }
        }

        Row {
            anchors.right: parent.right
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 16

            Tool {
                objectName: "fileManagerTool"
                source: "images/fileman.png"
                onToolClicked: homeView.launchFileMan()
            }
            Tool {
                objectName: "configurationTool"
                source: "images/config.png"
                onToolClicked: homeView.launchConfig()
            }
            Tool {
                objectName: "aboutTool"
                source: "images/about.png"
                onToolClicked: {
                    var component = Qt.createComponent("About.qml")
                    if (component.status === Component.Ready)
                        component.createObject(homeView.contentItem, { z: 3, urlVisible: homeView.isBrandVisible() })
                    else
                        console.warn("benchview: cannot create About.qml: " + component.errorString())
                }
            }
        }
    }

    // The five mode tools.
    Row {
        objectName: "modeRow"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 190
        spacing: 64

        Repeater {
            id: modeTools
            Tool {
                objectName: "modeTool_" + modelData.key
                source: modelData.source
                param: "ScopeMode"
                value: modelData.value
                label: modelData.label
            }
        }
    }

    // Update offer.
    Item {
        id: updateOffer
        objectName: "updateOffer"
        anchors.horizontalCenter: parent.horizontalCenter
        y: 330
        width: updateRow.width
        height: updateRow.height
        visible: false

        Row {
            id: updateRow
            spacing: 10

            Rectangle {
                id: updateBox
                width: 24
                height: 24
                anchors.verticalCenter: parent.verticalCenter
                color: "transparent"
                border.color: "white"
                border.width: 2
                radius: 3
                property bool checked: false

                Rectangle {
                    anchors.centerIn: parent
                    width: 12
                    height: 12
                    color: "#5fd38d"
                    visible: updateBox.checked
                }
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                color: "white"
                text: qsTr("Mise a jour disponible. L'installer?")
            }
        }

        MouseArea {
            objectName: "updateCheck"
            anchors.fill: parent
            onClicked: {
                if (updateBox.checked)
                    return
                homeView.setUpdateOk()
                // Still offered when the install could not be prepared: the box can be tried again.
                updateBox.checked = !homeView.isUpdateAvailable()
            }
        }
    }

    Text {
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 8
        color: "#6c7f93"
        font.pointSize: 8
        text: homeView.build
    }

    // The key help, above the mode views and below the message pop-up.
    KeyHelp {
        id: keyHelp
        objectName: "keyHelp"
        anchors.fill: parent
        z: 1
    }

    // The shared keyboards, above every view.
    NumericKeyboard {
        id: numericKeyboard
        objectName: "numericKeyboard"
        anchors.centerIn: parent
        visible: false
        z: 1
    }
    AlphaKeyboard {
        id: alphaKeyboard
        objectName: "alphaKeyboard"
        anchors.centerIn: parent
        visible: false
        z: 1
    }
    FunctionKeyboard {
        id: functionKeyboard
        objectName: "functionKeyboard"
        anchors.centerIn: parent
        visible: false
        z: 1
    }

    // The smart-probe overview, over the views and the message pop-up, on each probe event.
    KalvexOverview {
        id: kalvexOverview
        objectName: "kalvexOverview"
        z: 3
    }

    // The message pop-up, above the views and keyboards.
    MessageBox {
        id: messageBox
        objectName: "messageBox"
        anchors.centerIn: parent
        z: 2
    }
}
