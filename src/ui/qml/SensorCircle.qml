import QtQuick
import QtQuick.Layouts
import Quillmoor

// A circle with a figure inside and its title below; with a fraction (0…1) the circle's
// rim shows it as an arc.
ColumnLayout {
    id: root
    property string title
    property string value
    property real fraction: -1
    property color color: theme.accentColor
    property int side: 78
    readonly property ThemeManager theme: Services.theme
    spacing: 6
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    RingChart {
        Layout.alignment: Qt.AlignHCenter
        side: root.side
        lineWidth: 6
        percentage: root.fraction < 0 ? 0 : root.fraction * 100
        color: root.color
        trackColor: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.2)
        label: root.value
        textColor: root.theme.textColor
        titleColor: root.theme.secondaryTextColor
    }
    Text {
        objectName: "circleTitle"
        Layout.alignment: Qt.AlignHCenter
        Layout.maximumWidth: root.side + 30
        text: root.title
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        font.weight: Font.Bold
        font.letterSpacing: 0.8
        elide: Text.ElideRight
    }
}
