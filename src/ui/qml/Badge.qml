import QtQuick

// A small tinted label: a model's format or quantisation, a protection's mode, a status.
Rectangle {
    id: root
    property string text
    property color tint: "#0a84ff"
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
        color: root.tint
        font.pixelSize: 9
        font.weight: Font.Bold
        font.letterSpacing: 0.4
    }
}
