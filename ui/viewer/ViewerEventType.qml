import QtQuick 2.15

// The event types of the viewer's filter, in the order of the setup's type (index + 1).
ListModel {
    ListElement { txt: "< L1" }
    ListElement { txt: "> L1" }
    ListElement { txt: "< L1 or > L1" }
    ListElement { txt: "< min(L1,L2) or > max(L1,L2)" }
}
