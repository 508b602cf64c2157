import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// One button of a sub-page bar: a symbol and a title, filled with the accent colour while
// its page is the one shown.
AbstractButton {
    id: root
    property string title
    property string symbol
    property bool selected
    readonly property ThemeManager theme: Services.theme
    function tinted(c, a) { const q = Qt.color(c); return Qt.rgba(q.r, q.g, q.b, a) }

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.PageTab
    Accessible.name: title
    Accessible.selected: selected
    implicitHeight: 26
    implicitWidth: label.implicitWidth + 11 + 4 + 12

    background: Rectangle {
        radius: 6
        color: root.selected ? root.tinted(root.theme.accentColor, 0.22)
                             : root.hovered ? root.tinted(root.theme.textColor, 0.06) : "transparent"
        border.width: root.visualFocus ? 1.5 : 0
        border.color: root.theme.accentColor
    }
    contentItem: Item {
        Row {
            anchors.centerIn: parent
            spacing: 4
            SymbolImage {
                anchors.verticalCenter: parent.verticalCenter
                symbol: root.symbol
                side: 11
                tint: root.selected ? root.theme.accentColor : root.theme.secondaryTextColor
            }
            Text {
                id: label
                anchors.verticalCenter: parent.verticalCenter
                text: root.title
                color: root.selected ? root.theme.accentColor : root.theme.secondaryTextColor
                font.pixelSize: 10
                font.weight: Font.DemiBold
            }
        }
    }
}
