import QtQuick
import QtQuick.Layouts
import Quillmoor

// An installed model's fit verdict as a tinted badge with a symbol, one colour and symbol
// per verdict, so the four tell apart without reading (and without colour alone).
Rectangle {
    id: root
    property string verdict
    readonly property var look: ({
        "Fits in GPU": { tint: "#30d158", symbol: "display" },
        "Splits GPU/CPU": { tint: "#0a84ff", symbol: "memorychip" },
        "CPU only": { tint: "#ff9f0a", symbol: "cpu" },
        "Will not fit": { tint: "#ff453a", symbol: "xmark" }
    })[verdict] || { tint: "#8e8e93", symbol: "" }
    readonly property color tint: look.tint
    readonly property color ink: Services.theme && Services.theme.isLight ? Qt.darker(tint, 1.7) : tint
    radius: 4
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.16)
    implicitWidth: row.implicitWidth + 10
    implicitHeight: row.implicitHeight + 4
    Accessible.role: Accessible.StaticText
    Accessible.name: verdict

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 4
        SymbolImage { visible: root.look.symbol.length > 0; symbol: root.look.symbol; tint: root.ink; side: 11 }
        Text {
            objectName: "fitText"
            text: root.verdict
            color: root.ink
            font.pixelSize: 10
            font.weight: Font.Bold
        }
    }
}
