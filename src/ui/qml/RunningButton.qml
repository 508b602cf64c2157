import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// A button that starts a service's work and, while the work runs, says so and cannot be
// pressed again.
Button {
    id: root
    property string runningText
    property bool running
    property string symbol
    property color tint: theme.accentColor
    // A smaller button for a list row or the popover.
    property bool compact: false
    readonly property ThemeManager theme: Services.theme
    readonly property string shownText: running && runningText.length > 0 ? runningText : text

    enabled: !running
    focusPolicy: Qt.StrongFocus
    Accessible.name: shownText
    padding: compact ? 4 : 8
    leftPadding: compact ? 8 : 14
    rightPadding: compact ? 8 : 14

    contentItem: RowLayout {
        spacing: 7
        BusyIndicator {
            objectName: "runningIndicator"
            visible: root.running
            running: root.running
            Layout.preferredWidth: 16
            Layout.preferredHeight: 16
        }
        SymbolImage {
            visible: !root.running && root.symbol.length > 0
            symbol: root.symbol
            tint: "white"
            side: root.compact ? 11 : 14
        }
        Text {
            objectName: "buttonText"
            text: root.shownText
            color: "white"
            font.pixelSize: root.compact ? 10 : 12
            font.weight: Font.DemiBold
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }
    background: Rectangle {
        radius: root.compact ? 6 : 8
        color: root.tint
        opacity: !root.enabled ? 0.55 : root.down ? 0.75 : root.hovered ? 0.9 : 1
        border.width: root.visualFocus ? 2 : 0
        border.color: root.theme.textColor
    }
}
