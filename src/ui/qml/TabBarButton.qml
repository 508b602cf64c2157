import QtQuick
import QtQuick.Controls

// One of the popover's five tab buttons; the selected one is filled with its colour.
AbstractButton {
    id: root
    property string symbol
    property int tabIndex
    property int selectedTab
    property color tint
    property color idleTint
    signal picked(int tabIndex)

    readonly property bool selected: tabIndex === selectedTab
    implicitWidth: 32
    implicitHeight: 32
    onClicked: picked(tabIndex)

    background: Rectangle {
        radius: 8
        color: root.tint
        opacity: root.selected ? 0.22 : root.hovered ? 0.10 : 0.0
        Behavior on opacity { NumberAnimation { duration: 150 } }
    }
    contentItem: Item {
        SymbolImage {
            anchors.centerIn: parent
            symbol: root.symbol
            side: 18
            tint: root.selected ? root.tint : root.idleTint
        }
    }
}
