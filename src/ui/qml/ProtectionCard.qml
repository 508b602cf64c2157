import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// One automatic protection: its switch, what it does in a line, the mode badge and a
// longer explanation on hover. `status` is a live line shown while it is acting.
Rectangle {
    id: root
    property string title
    property string badge
    property color tint: "#bf5af2"
    property string description
    property string help
    property string status
    property bool on
    signal toggled(bool on)
    readonly property ThemeManager theme: Services.theme
    readonly property alias control: toggle

    radius: 10
    color: root.theme.cardBackground
    border.width: 1
    border.color: root.on ? Qt.rgba(tint.r, tint.g, tint.b, 0.5) : root.theme.dividerColor
    implicitHeight: column.implicitHeight + 20
    implicitWidth: 280

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered && help.length > 0
    ToolTip.text: help
    ToolTip.delay: 700

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 10
        spacing: 5
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            CheckboxToggleStyle {
                id: toggle
                objectName: "protectionSwitch"
                Layout.fillWidth: true
                label: root.title
                on: root.on
                onSwitched: (value) => root.toggled(value)
            }
            Badge { Layout.alignment: Qt.AlignTop; visible: root.badge.length > 0; text: root.badge; tint: root.tint }
        }
        Text {
            Layout.fillWidth: true
            text: root.description
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "protectionStatus"
            Layout.fillWidth: true
            visible: root.status.length > 0
            text: root.status
            color: root.theme.isLight ? Qt.darker(root.tint, 1.6) : root.tint
            font.pixelSize: 11
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
    }
}
