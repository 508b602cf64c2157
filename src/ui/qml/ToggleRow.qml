import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// A labelled switch with a caption. Where the service cannot do what the switch asks, the
// switch is disabled and says why instead of pretending.
RowLayout {
    id: root
    property string text
    property string caption
    property string symbol
    property bool checked
    property bool available: true
    property string unavailableText
    signal toggled(bool on)

    readonly property ThemeManager theme: Services.theme
    readonly property alias control: toggle
    spacing: 10

    SymbolImage {
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 2
        visible: root.symbol.length > 0
        symbol: root.symbol
        tint: root.theme.accentColor
        side: 16
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Text {
            Layout.fillWidth: true
            text: root.text
            color: root.theme.textColor
            opacity: root.available ? 1 : 0.6
            font.pixelSize: 13
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "toggleCaption"
            Layout.fillWidth: true
            text: root.available || root.unavailableText.length === 0 ? root.caption : root.unavailableText
            visible: text.length > 0
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }
    Switch {
        id: toggle
        objectName: "toggleSwitch"
        // Level with the title: centring against a caption that wraps lands it a line low
        // while the caption's height is still settling.
        Layout.alignment: Qt.AlignTop
        rightPadding: 0   // flush with the figures at the card's right edge
        enabled: root.available
        checked: root.checked
        Accessible.name: root.text
        // Drawn in the theme, so it reads the same in every style and shows keyboard focus.
        indicator: Rectangle {
            implicitWidth: 40
            implicitHeight: 22
            x: toggle.leftPadding
            y: toggle.topPadding + (toggle.availableHeight - height) / 2
            radius: 11
            // An off track the colour of a divider vanishes on a light card: a darker grey
            // there, with an outline, so off and disabled switches still read as switches.
            color: toggle.checked ? root.theme.accentColor : root.theme.isLight ? "#b4b4bc" : root.theme.dividerColor
            opacity: toggle.enabled ? 1 : 0.45
            border.width: toggle.visualFocus ? 2 : root.theme.isLight ? 1 : 0
            border.color: toggle.visualFocus ? root.theme.textColor : "#8e8e93"
            Rectangle {
                x: toggle.checked ? parent.width - width - 3 : 3
                y: 3
                width: 16
                height: 16
                radius: 8
                color: "white"
                Behavior on x { NumberAnimation { duration: 120 } }
            }
        }
        onToggled: {
            root.toggled(checked)
            // The service owns the state: a refused change springs back to what it reports.
            checked = Qt.binding(() => root.checked)
        }
    }
}
