import QtQuick
import QtQuick.Layouts
import Quillmoor

// The small tag beside a cache section's title: sparkles while there is something to
// clean, a check mark once it has been cleaned.
Rectangle {
    id: root
    property string text
    property bool cleaned: false
    readonly property ThemeManager theme: Services.theme
    readonly property color tint: cleaned ? "#34c759" : theme.accentColor

    objectName: "cacheTagBadge"
    radius: height / 2
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.15)
    implicitWidth: row.implicitWidth + 14
    implicitHeight: row.implicitHeight + 6
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 4
        SymbolImage {
            symbol: root.cleaned ? "checkmark.circle.fill" : "sparkles"
            tint: root.tint
            side: 11
        }
        Text {
            objectName: "badgeText"
            text: root.text
            color: root.tint
            font.pixelSize: 10
            font.weight: Font.DemiBold
        }
    }
}
