import QtQuick
import QtQuick.Controls

// A flat icon button for the popover header.
AbstractButton {
    id: root
    Accessible.name: help.length > 0 ? help : label
    property string symbol
    property color tint
    property string help
    property string label

    implicitWidth: label.length ? row.implicitWidth + 12 : 26
    implicitHeight: 26
    hoverEnabled: true
    ToolTip.visible: hovered && help.length > 0
    ToolTip.text: help
    ToolTip.delay: 600

    background: Rectangle {
        radius: 6
        color: root.tint
        opacity: root.down ? 0.25 : root.hovered ? 0.15 : 0.0
    }
    contentItem: Row {
        id: row
        spacing: 4
        anchors.centerIn: parent
        SymbolImage { symbol: root.symbol; tint: root.tint; side: 14; anchors.verticalCenter: parent.verticalCenter }
        Text {
            visible: root.label.length > 0
            text: root.label
            color: root.tint
            font.pixelSize: 11
            font.weight: Font.Medium
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
