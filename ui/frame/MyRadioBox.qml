import QtQuick 2.0

// Group box with one radio button per model entry (roles txt and img) in a grid. Exactly the
// button of currentIndex is checked.
MyGroupBox {
    id: radioBox
    property string radioBoxTitle: "My Radio Box"
    property int currentIndex: 0
    property var myListModel
    property int columnNumber: 2
    property bool exclusive: true
    property int itemSpacing: 5
    signal sigCurrentIndexChange()

    groupBoxTitle: radioBoxTitle
    height: grid.height + 40

    function entryCount() {
        if (!myListModel)
            return 0
        return myListModel.count !== undefined ? myListModel.count : myListModel.length
    }

    // Entry i of a ListModel or of an array.
    function entry(i) {
        if (!myListModel || i < 0 || i >= entryCount())
            return undefined
        return myListModel.get !== undefined ? myListModel.get(i) : myListModel[i]
    }

    function checkCurrent() {
        for (var i = 0; i < buttons.count; ++i) {
            var button = buttons.itemAt(i)
            if (button)
                button.checked = (i === currentIndex)
        }
    }

    onCurrentIndexChanged: checkCurrent()

    Component.onCompleted: {
        if (currentIndex < 0 || currentIndex >= entryCount())
            currentIndex = 0
        checkCurrent()
    }

    Grid {
        id: grid
        anchors.centerIn: parent
        columns: radioBox.columnNumber
        spacing: radioBox.itemSpacing

        Repeater {
            id: buttons
            model: radioBox.myListModel
            MyRadioButton {
                objectName: "radioButton" + index
                label: {
                    var e = radioBox.entry(index)
                    return e && e.txt !== undefined ? e.txt : ""
                }
                image: {
                    var e = radioBox.entry(index)
                    return e && e.img !== undefined ? e.img : ""
                }
                checked: index === radioBox.currentIndex
                onClicked: {
                    if (index !== radioBox.currentIndex) {
                        radioBox.currentIndex = index
                        radioBox.sigCurrentIndexChange()
                    }
                    if (radioBox.exclusive)
                        radioBox.checkCurrent()
                }
            }
        }
    }
}
