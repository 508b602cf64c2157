import QtQuick
import QtQuick.Layouts
import Quillmoor

// A small preset tag: its symbol and title. Inactive, it is drawn in its colour on a faint
// tint; active, in black on the full colour with a halo, pulsing gently while shown.
Item {
    id: root
    property string title
    property string icon
    property color color: "#0a84ff"
    property bool active: false

    implicitWidth: row.implicitWidth + 16
    implicitHeight: row.implicitHeight + 8
    Accessible.role: Accessible.StaticText
    Accessible.name: title + (active ? " (active)" : "")

    // The halo sits outside the badge, so it is not clipped with it.
    Rectangle {
        objectName: "badgeHalo"
        anchors.fill: badge
        anchors.margins: -3
        radius: 9
        visible: root.active
        color: "transparent"
        border.width: 3
        border.color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.6)
        scale: badge.scale
    }

    Rectangle {
        id: badge
        anchors.fill: parent
        radius: 6
        clip: true
        color: root.active ? root.color : Qt.rgba(root.color.r, root.color.g, root.color.b, 0.15)

        RowLayout {
            id: row
            anchors.centerIn: parent
            spacing: 4
            SymbolImage {
                visible: root.icon.length > 0
                symbol: root.icon
                tint: root.active ? "black" : root.color
                side: 10
            }
            Text {
                objectName: "badgeTitle"
                text: root.title
                color: root.active ? "black" : root.color
                font.pixelSize: 9
                font.weight: Font.Bold
            }
        }

        // A few beats when the badge turns active, then at rest: an endless
        // pulse would repaint the window every frame for as long as it is open.
        SequentialAnimation on scale {
            id: pulse
            running: root.active && root.visible
            loops: 3
            alwaysRunToEnd: false
            NumberAnimation { from: 1; to: 1.08; duration: 600; easing.type: Easing.InOutQuad }
            NumberAnimation { from: 1.08; to: 1; duration: 600; easing.type: Easing.InOutQuad }
            onRunningChanged: if (!running) badge.scale = 1
        }
    }
}
