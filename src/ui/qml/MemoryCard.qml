import QtQuick
import QtQuick.Layouts
import Quillmoor

// A tile with a title, a figure and a caption, tinted with its colour.
Item {
    id: root
    property string title
    property string value
    property string caption
    property color color: theme.accentColor
    readonly property ThemeManager theme: Services.theme
    implicitWidth: 140
    implicitHeight: column.implicitHeight + 24
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.12)
        border.width: 1
        border.color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.35)
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 12
        spacing: 3
        Text {
            objectName: "memoryCardTitle"
            Layout.fillWidth: true
            text: root.title
            color: root.color
            font.pixelSize: 10
            font.weight: Font.Bold
            font.letterSpacing: 1.0
            elide: Text.ElideRight
        }
        Text {
            objectName: "memoryCardValue"
            Layout.fillWidth: true
            text: root.value
            color: root.theme.textColor
            font.pixelSize: 18
            font.weight: Font.Bold
            elide: Text.ElideRight
        }
        Text {
            Layout.fillWidth: true
            text: root.caption
            visible: text.length > 0
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            elide: Text.ElideRight
        }
    }
}
