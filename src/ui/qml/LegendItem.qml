import QtQuick
import QtQuick.Layouts

// A colour dot, a label and a value on one line.
RowLayout {
    id: root
    property color color
    property string label
    property string value
    property color textColor: "white"
    property color valueColor: textColor
    spacing: 6

    Rectangle { width: 8; height: 8; radius: 4; color: root.color }
    Text {
        objectName: "legendLabel"
        text: root.label
        color: root.textColor
        font.pixelSize: 11
        Layout.fillWidth: root.value.length > 0   // pushes a value to the right; alone, it stays by its dot
        elide: Text.ElideRight
    }
    Text {
        objectName: "legendValue"
        visible: root.value.length > 0
        text: root.value
        color: root.valueColor
        font.pixelSize: 11
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
