import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// One workspace persona as a card: its symbol and name. The chosen one is tinted in its colour
// and gently pulses while on screen; the list that shows the cards decides what choosing does.
AbstractButton {
    id: root
    property string persona
    property string symbol: Services.personas.iconFor(persona)
    property color tint: "#0a84ff"
    property bool selected

    readonly property ThemeManager theme: Services.theme
    implicitWidth: 85
    implicitHeight: 68
    focusPolicy: Qt.StrongFocus
    checkable: false
    hoverEnabled: true
    Accessible.role: Accessible.RadioButton
    Accessible.name: persona
    Accessible.checkable: true
    Accessible.checked: selected
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    background: Rectangle {
        radius: 10
        color: root.selected ? Qt.rgba(root.tint.r, root.tint.g, root.tint.b, 0.22)
                             : root.theme.isLight ? Qt.rgba(0, 0, 0, 0.04) : Qt.rgba(1, 1, 1, 0.04)
        border.width: root.selected || root.visualFocus ? (root.visualFocus ? 2 : 1) : 0
        border.color: root.visualFocus ? root.theme.textColor : Qt.rgba(root.tint.r, root.tint.g, root.tint.b, 0.5)
    }

    contentItem: ColumnLayout {
        spacing: 5
        SymbolImage {
            Layout.alignment: Qt.AlignHCenter
            symbol: root.symbol
            tint: root.selected ? root.tint : root.theme.secondaryTextColor
            side: 20
        }
        Text {
            Layout.fillWidth: true
            Layout.leftMargin: 4
            Layout.rightMargin: 4
            text: root.persona
            color: root.theme.textColor
            font.pixelSize: 10
            font.weight: root.selected ? Font.Bold : Font.Normal
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            maximumLineCount: 2
        }
    }

    SequentialAnimation on scale {
        running: root.selected && root.visible
        // A couple of beats to greet the choice, then still: a card that
        // pulsed forever would keep the window repainting while it is open.
        loops: 2
        alwaysRunToEnd: false
        NumberAnimation { from: 1; to: 1.04; duration: 800; easing.type: Easing.InOutQuad }
        NumberAnimation { from: 1.04; to: 1; duration: 800; easing.type: Easing.InOutQuad }
        onRunningChanged: if (!running) root.scale = 1
    }
}
