import QtQuick
import QtQuick.Layouts
import Quillmoor

// A symbol, a title and a figure on one line.
RowLayout {
    id: root
    readonly property ThemeManager theme: Services.theme
    property string symbol
    property string title
    property string value
    property color valueColor: theme ? theme.textColor : "white"
    spacing: 6
    SymbolImage { symbol: root.symbol; tint: root.theme ? root.theme.secondaryAccent : "gray"; side: 12 }
    Text {
        text: root.title
        color: root.theme ? root.theme.textColor : "white"
        font.pixelSize: 11
        Layout.fillWidth: true
    }
    Text {
        objectName: "hardwareValue"
        text: root.value
        color: root.valueColor
        font.pixelSize: 11
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
