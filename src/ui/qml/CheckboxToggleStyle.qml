import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// A switch drawn as a check box and its label; a tap, Space or Enter flips it. The owner
// holds the value: `toggled` asks for the change and `checked` follows what it reports.
AbstractButton {
    id: root
    property string label
    property bool on
    signal toggled(bool on)
    readonly property ThemeManager theme: Services.theme

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.CheckBox
    Accessible.name: label
    Accessible.checkable: true
    Accessible.checked: on
    implicitHeight: Math.max(18, text.implicitHeight + 4)
    implicitWidth: 16 + 6 + text.implicitWidth

    onClicked: toggled(!on)
    Keys.onReturnPressed: toggled(!on)
    Keys.onEnterPressed: toggled(!on)

    background: Rectangle {
        radius: 4
        color: "transparent"
        border.width: root.visualFocus ? 1.5 : 0
        border.color: root.theme.accentColor
    }
    contentItem: RowLayout {
        spacing: 6
        SymbolImage {
            objectName: "checkboxSymbol"
            symbol: root.on ? "checkmark.square.fill" : "square"
            tint: root.on ? root.theme.accentColor : root.theme.secondaryTextColor
            side: 16
        }
        Text {
            id: text
            Layout.fillWidth: true
            text: root.label
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
    }
}
