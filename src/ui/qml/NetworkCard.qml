import QtQuick
import QtQuick.Layouts
import Quillmoor

// A tile with a symbol, a title and a rate, tinted with its colour.
Item {
    id: root
    property string title
    property string value
    property string icon
    property color color: theme.accentColor
    readonly property ThemeManager theme: Services.theme
    implicitWidth: 160
    implicitHeight: 64
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Rectangle {
        anchors.fill: parent
        radius: 10
        color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.12)
        border.width: 1
        border.color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.35)
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10
        Rectangle {
            width: 34; height: 34; radius: 17
            color: Qt.rgba(root.color.r, root.color.g, root.color.b, 0.22)
            SymbolImage { anchors.centerIn: parent; symbol: root.icon; tint: root.color; side: 16 }
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            Text {
                objectName: "networkCardTitle"
                Layout.fillWidth: true
                text: root.title
                color: root.theme.secondaryTextColor
                font.pixelSize: 11
                elide: Text.ElideRight
            }
            Text {
                objectName: "networkCardValue"
                Layout.fillWidth: true
                text: root.value
                color: root.theme.textColor
                font.pixelSize: 16
                font.weight: Font.Bold
                elide: Text.ElideRight
            }
        }
    }
}
