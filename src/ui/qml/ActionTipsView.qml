import QtQuick
import QtQuick.Layouts
import Quillmoor

// The tip list that closes a dashboard page: a title and one line per tip, each behind a bulb.
Card {
    id: root
    property var tips: []
    symbol: "lightbulb.fill"
    tint: "#ffd60a"

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
                tint: "#ffd60a"
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
