import QtQuick
import QtQuick.Layouts
import Quillmoor

// The tip list that closes a dashboard page: a title and one line per tip, each behind a bulb.
Card {
    id: root
    property var tips: []
    // Yellow on a light card cannot be read: a deeper amber there.
    readonly property color bulbColor: theme.isLight ? "#b25000" : "#ffd60a"
    symbol: "lightbulb.fill"
    tint: bulbColor

    Repeater {
        model: root.tips
        RowLayout {
            required property string modelData
            Layout.fillWidth: true
            spacing: 8
            SymbolImage {
                Layout.alignment: Qt.AlignTop
                Layout.topMargin: 1
                symbol: "lightbulb.fill"
                tint: root.bulbColor
                side: 13
            }
            Text {
                objectName: "tip"
                Layout.fillWidth: true
                text: modelData
                color: root.theme.textColor
                font.pixelSize: 12
                wrapMode: Text.WordWrap
            }
        }
    }
}
