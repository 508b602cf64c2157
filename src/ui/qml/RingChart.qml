import QtQuick

// A ring whose arc covers min(percentage / 100, 1) of the circle, with a figure and a title
// stacked in the middle.
Item {
    id: root
    property real percentage: 0
    property string label
    property string title
    property color color: "#0a84ff"
    property color trackColor: "#33808080"
    property color textColor: "white"
    property color titleColor: "gray"
    property real lineWidth: 8
    property int side: 100
    readonly property real fraction: Math.max(0, Math.min((isFinite(percentage) ? percentage : 0) / 100, 1))

    implicitWidth: side
    implicitHeight: side

    Canvas {
        id: ring
        anchors.fill: parent
        renderStrategy: Canvas.Immediate
        renderTarget: Canvas.Image
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
            if (root.fraction <= 0)
                return
            ctx.strokeStyle = root.color
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, r, -Math.PI / 2, -Math.PI / 2 + root.fraction * 2 * Math.PI)
            ctx.stroke()
        }
        Connections {
            target: root
            function onFractionChanged() { ring.requestPaint() }
            function onColorChanged() { ring.requestPaint() }
            function onTrackColorChanged() { ring.requestPaint() }
        }
    }
    Column {
        anchors.centerIn: parent
        spacing: 0
        Text {
            objectName: "ringLabel"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.label
            color: root.textColor
            font.pixelSize: Math.round(root.side * 0.2)
            font.weight: Font.Bold
        }
        Text {
            objectName: "ringTitle"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.title.length > 0
            text: root.title
            color: root.titleColor
            font.pixelSize: Math.max(8, Math.round(root.side * 0.09))
            font.weight: Font.DemiBold
            font.letterSpacing: 0.6
        }
    }
}
