import QtQuick

// One bar per core, filled to that core's load.
Item {
    id: root
    property var loads: []
    property color tint
    readonly property real barWidth: loads.length ? Math.max(3, (width - bars.spacing * (loads.length - 1)) / loads.length) : 0
    implicitHeight: 22
    Row {
        id: bars
        anchors.fill: parent
        spacing: 3
        Repeater {
            model: root.loads
            Rectangle {
                required property real modelData
                width: root.barWidth
                height: root.height
                radius: 2
                color: Qt.rgba(0.5, 0.5, 0.5, 0.18)
                Rectangle {
                    anchors.bottom: parent.bottom
                    width: parent.width
                    radius: 2
                    height: parent.height * Math.max(0, Math.min(parent.modelData / 100, 1))
                    color: root.tint
                }
            }
        }
    }
}
