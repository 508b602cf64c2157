import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// A switch drawn as a check box and its label; a tap, Space or Enter flips it. The owner
// holds the value: `switched` asks for the change and the box follows what `on` reports.
CheckBox {
    id: root
    property string label
    property bool on
    signal switched(bool on)
    readonly property ThemeManager theme: Services.theme

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.name: label
    text: label
    checked: on
    padding: 2
    leftPadding: 0
    spacing: 6

    onToggled: {
        root.switched(checked)
        // A refused change springs back to what the owner reports.
        checked = Qt.binding(() => root.on)
    }
    Keys.onReturnPressed: { toggle(); toggled() }
    Keys.onEnterPressed: { toggle(); toggled() }

    indicator: SymbolImage {
        objectName: "checkboxSymbol"
        x: root.leftPadding
        // Level with the label's first line, however many lines it wraps to.
        y: root.topPadding + Math.max(0, (Math.min(root.availableHeight, 17) - height) / 2)
        symbol: root.checked ? "checkmark.square.fill" : "square"
        tint: root.checked ? root.theme.accentColor : root.theme.secondaryTextColor
        side: 16
    }
    background: Rectangle {
        radius: 4
        color: "transparent"
        border.width: root.visualFocus ? 1.5 : 0
        border.color: root.theme.accentColor
    }
    contentItem: Text {
        leftPadding: 16 + root.spacing
        text: root.label
        color: root.theme.textColor
        font.pixelSize: 12
        font.weight: Font.DemiBold
        wrapMode: Text.WordWrap
        verticalAlignment: Text.AlignTop
    }
}
