import QtQuick
import QtQuick.Controls
import Quillmoor

// One dashboard sidebar entry; the selected one is drawn in the accent colour.
AbstractButton {
    id: root
    Accessible.name: title
    property string symbol
    property string title
    property bool selected
    readonly property ThemeManager theme: Services.theme

    implicitHeight: 30
    hoverEnabled: true

    background: Rectangle {
        radius: 7
        color: root.selected ? root.theme.accentColor : root.theme.cardBackground
        opacity: root.selected ? 0.8 : root.hovered ? 1.0 : 0.0
    }
    contentItem: Row {
        spacing: 9
        leftPadding: 10
        SymbolImage {
            anchors.verticalCenter: parent.verticalCenter
            symbol: root.symbol
            side: 15
            tint: root.selected ? "white" : root.theme.accentColor
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: root.title
            color: root.selected ? "white" : root.theme.textColor
            font.pixelSize: 13
            font.weight: root.selected ? Font.DemiBold : Font.Normal
        }
    }
}
