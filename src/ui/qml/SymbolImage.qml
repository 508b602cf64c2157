import QtQuick

// A symbol glyph drawn in one colour.
Image {
    id: root
    property string symbol
    property color tint: "white"
    property int side: 16

    width: side
    height: side
    sourceSize: Qt.size(side * Screen.devicePixelRatio, side * Screen.devicePixelRatio)
    source: symbol.length ? "image://symbol/" + symbol + "?" + String(tint).replace("#", "") : ""
    smooth: true
}
