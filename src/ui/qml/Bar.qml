import QtQuick
import Quillmoor

// A thin horizontal gauge filled to `fraction` (0 to 1).
Rectangle {
    id: root
    property real fraction: 0
    property color tint: "#0a84ff"
    readonly property ThemeManager theme: Services.theme
    implicitHeight: 6
    radius: height / 2
    color: theme.isLight ? "#dcdce2" : Qt.rgba(1, 1, 1, 0.1)
    Rectangle {
        height: parent.height
        radius: parent.radius
        color: root.tint
        width: parent.width * Math.max(0, Math.min(isFinite(root.fraction) ? root.fraction : 0, 1))
    }
}
