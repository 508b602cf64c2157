import QtQuick
import QtQuick.Layouts
import Quillmoor

// A sensor line: title over subtitle, the value trailing.
RowLayout {
    id: root
    property string title
    property string subtitle
    property string value
    property color valueColor: theme.textColor
    readonly property ThemeManager theme: Services.theme
    spacing: 10
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        Text {
            objectName: "sensorTitle"
            Layout.fillWidth: true
            text: root.title
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }
        Text {
            Layout.fillWidth: true
            text: root.subtitle
            visible: text.length > 0
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            elide: Text.ElideRight
        }
    }
    Text {
        objectName: "sensorValue"
        text: root.value
        color: root.valueColor
        font.pixelSize: 13
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
