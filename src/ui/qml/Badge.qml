import QtQuick
import Quillmoor

// A small tinted label: a model's format or quantisation, a protection's mode, a status.
Rectangle {
    id: root
    property string text
    property color tint: "#0a84ff"
    // Bright tints (yellow, mint) vanish on a light card: their text is drawn darker there.
    readonly property color ink: Services.theme && Services.theme.isLight ? Qt.darker(tint, 1.7) : tint
    radius: 4
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.16)
    implicitWidth: label.implicitWidth + 10
    implicitHeight: label.implicitHeight + 4
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    Text {
        id: label
        objectName: "badgeText"
        anchors.centerIn: parent
        text: root.text
        color: root.ink
        font.pixelSize: 10
        font.weight: Font.Bold
        font.letterSpacing: 0.4
    }
}
