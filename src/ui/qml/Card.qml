import QtQuick
import QtQuick.Layouts
import Quillmoor

// A rounded panel in the theme's card colour, with an optional upper-case header and symbol.
Rectangle {
    id: root
    property string title
    property string symbol
    property color tint: theme.accentColor
    default property alias content: body.data
    property alias spacing: body.spacing
    property int padding: 16

    readonly property ThemeManager theme: Services.theme
    radius: 12
    color: theme.cardBackground
    border.width: 1
    border.color: theme.dividerColor
    implicitWidth: outer.implicitWidth + 2 * padding
    implicitHeight: outer.implicitHeight + 2 * padding

    ColumnLayout {
        id: outer
        anchors.fill: parent
        anchors.margins: root.padding
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            visible: root.title.length > 0
            SymbolImage {
                visible: root.symbol.length > 0
                symbol: root.symbol
                tint: root.theme.isLight ? Qt.darker(root.tint, 1.6) : root.tint
                side: 13
            }
            SectionHeader {
                objectName: "cardTitle"
                Layout.fillWidth: true
                text: root.title.toUpperCase()
                // Bright accents (yellow, mint, cyan) wash out on a light card.
                color: root.theme.isLight ? Qt.darker(root.tint, 1.6) : root.tint
                elide: Text.ElideRight
            }
        }

        ColumnLayout {
            id: body
            Layout.fillWidth: true
            spacing: 8
        }
        // A card stretched to its neighbour's height keeps its content at the top.
        Item { Layout.fillHeight: true }
    }
}
