import QtQuick
import QtQuick.Layouts
import Quillmoor

// A cache on one line: its title over its folder, and its size at the right.
RowLayout {
    id: root
    property string title
    property string path
    property string sizeText
    readonly property ThemeManager theme: Services.theme
    spacing: 8

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        Text {
            Layout.fillWidth: true
            text: root.title
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }
        Text {
            objectName: "cachePath"
            Layout.fillWidth: true
            text: root.path
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
            elide: Text.ElideMiddle
        }
    }
    Text {
        objectName: "cacheSize"
        text: root.sizeText
        color: root.theme.textColor
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
