import QtQuick 2.0

// The acquisition display mode; index = mode number.
MyListBox {
    id: modeSelect
    property alias index: modeSelect.listIndex

    width: 250
    height: 50
    listBoxTitle: qsTr("Mode")
    myListModel: [
        { txt: qsTr("Vecteur") }, { txt: qsTr("Enveloppe") },
        { txt: qsTr("Toute l'acquisition") }, { txt: qsTr("Persistance") }
    ]
}
