import QtQuick
import QtQuick.Layouts

// A label at the leading edge and its value at the trailing edge.
RowLayout {
    id: root
    property string label
    property string value
    property color labelColor: "gray"
    property color valueColor: "white"
    spacing: 8
    Text { text: root.label; color: root.labelColor; font.pixelSize: 10; Layout.fillWidth: true; elide: Text.ElideRight }
    Text {
        objectName: "telemetryValue"
        text: root.value
        color: root.valueColor
        font.pixelSize: 10
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
