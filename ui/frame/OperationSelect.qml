import QtQuick 2.0

// The operations of a math function; choosing one hands its text over. The first entry is shown
// at start without being handed over.
MyListBox {
    id: operationSelect
    property alias index: operationSelect.listIndex
    property bool started: false
    signal sigAddOperation(string opValue)

    titleDisplay: false
    plusMinusVisible: false
    myListModel: [
        { txt: "divh(" }, { txt: "divv(" }, { txt: "step(" }, { txt: "sin(" },
        { txt: "cos(" }, { txt: "exp(" }, { txt: "log(" }, { txt: "sqrt(" }
    ]

    onListIndexChanged: {
        if (started && listIndex >= 0)
            sigAddOperation(entryText(listIndex))
    }

    Component.onCompleted: {
        listIndex = 0
        started = true
    }
}
