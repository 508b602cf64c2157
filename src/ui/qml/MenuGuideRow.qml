import QtQuick
import QtQuick.Layouts
import Quillmoor

// One explained feature in the tour: a symbol in a tinted square, a bold name and a line
// saying what it does.
RowLayout {
    id: root
    property string symbol
    property string title
    property string text
    property color tint: theme.accentColor
    readonly property ThemeManager theme: Services.theme
    spacing: 12

    Rectangle {
        Layout.alignment: Qt.AlignTop
        width: 30; height: 30; radius: 8
        color: Qt.rgba(root.tint.r, root.tint.g, root.tint.b, 0.18)
        SymbolImage {
            anchors.centerIn: parent
            symbol: root.symbol
            tint: root.theme.isLight ? Qt.darker(root.tint, 1.5) : root.tint
            side: 16
        }
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Text {
            objectName: "guideRowTitle"
            Layout.fillWidth: true
            text: root.title
            color: root.theme.textColor
            font.pixelSize: 13
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "guideRowText"
            Layout.fillWidth: true
            text: root.text
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }
}
