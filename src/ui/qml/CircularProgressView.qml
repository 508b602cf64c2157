import QtQuick

// A ring filled clockwise from the top in proportion to `progress`, 0 to 1, with an
// optional text in the middle.
Item {
    id: root
    property real progress: 0
    property color color: "#bf5af2"
    property color trackColor: "#33808080"
    property real lineWidth: 7
    property string label
    property color textColor: "white"
    readonly property real fraction: Math.max(0, Math.min(isFinite(progress) ? progress : 0, 1))
    implicitWidth: 72
    implicitHeight: 72

    onFractionChanged: ring.requestPaint()
    onColorChanged: ring.requestPaint()
    onTrackColorChanged: ring.requestPaint()

    Canvas {
        id: ring
        anchors.fill: parent
        renderStrategy: Canvas.Immediate
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const r = Math.min(width, height) / 2 - root.lineWidth / 2
            ctx.lineWidth = root.lineWidth
            ctx.lineCap = "round"
            ctx.strokeStyle = root.trackColor
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, 0, 2 * Math.PI)
            ctx.stroke()
            if (root.fraction > 0) {
                ctx.strokeStyle = root.color
                ctx.beginPath()
                ctx.arc(width / 2, height / 2, r, -Math.PI / 2, -Math.PI / 2 + 2 * Math.PI * root.fraction)
                ctx.stroke()
            }
        }
    }
    Text {
        objectName: "progressLabel"
        anchors.centerIn: parent
        visible: root.label.length > 0
        text: root.label
        color: root.textColor
        font.pixelSize: 12
        font.weight: Font.DemiBold
        font.family: "monospace"
    }
}
