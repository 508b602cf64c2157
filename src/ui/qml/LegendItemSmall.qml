import QtQuick

// A small coloured dot and its label, under a split bar.
Row {
    id: root
    property color color
    property string label
    property color textColor: "white"
    spacing: 4

    Rectangle { anchors.verticalCenter: parent.verticalCenter; width: 7; height: 7; radius: 3.5; color: root.color }
    Text {
        objectName: "legendLabel"
        anchors.verticalCenter: parent.verticalCenter
        text: root.label
        color: root.textColor
        font.pixelSize: 10
    }
}
