import QtQuick
import QtQuick.Layouts
import Quillmoor

// What the dashboard shows for a sidebar title that opens no page in this build: said
// plainly, so an empty area is never mistaken for a page with nothing to report.
ColumnLayout {
    id: root
    required property string title
    // Whether the title is one the dashboard knows, whose page is not built yet.
    property bool planned: false
    spacing: 8

    SymbolImage {
        symbol: "info.circle.fill"
        tint: Services.theme.secondaryTextColor
        side: 28
    }
    Text {
        objectName: "notAvailableText"
        Layout.fillWidth: true
        text: root.planned ? "\u201c" + root.title + "\u201d is not available in this version yet."
                           : "There is no page called \u201c" + root.title + "\u201d."
        color: Services.theme.secondaryTextColor
        font.pixelSize: 13
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
    Item { Layout.fillHeight: true }
}
