import QtQuick

// A symbol glyph drawn in one colour, `side` points square. The glyph is rasterised at the
// screen's scale; the item keeps its size in points, so layouts (which read the implicit
// size, and an Image's own would be its pixel size) place it the same at 200 %.
Item {
    id: root
    property string symbol
    property color tint: "white"
    property int side: 16

    width: side
    height: side
    implicitWidth: side
    implicitHeight: side

    Image {
        anchors.fill: parent
        sourceSize: Qt.size(root.side * Screen.devicePixelRatio, root.side * Screen.devicePixelRatio)
        source: root.symbol.length ? "image://symbol/" + root.symbol + "?" + String(root.tint).replace("#", "") : ""
        smooth: true
    }
}
