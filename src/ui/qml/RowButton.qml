import QtQuick
import QtQuick.Controls

// A small borderless symbol button inside a list row.
AbstractButton {
    id: root
    Accessible.name: help
    property string symbol
    property color tint
    property string help
    implicitWidth: 18
    implicitHeight: 18
    hoverEnabled: true
    ToolTip.visible: hovered && help.length > 0
    ToolTip.text: help
    ToolTip.delay: 500
    background: Rectangle { radius: 4; color: root.tint; opacity: root.hovered ? 0.18 : 0 }
    contentItem: Item {
        SymbolImage { anchors.centerIn: parent; symbol: root.symbol; tint: root.tint; side: 11 }
    }
}
