import QtQuick

// A polyline of percentages on a fixed 0-100 scale across the full width. Fewer than two
// samples draw nothing. It repaints only when its samples, colour or size change.
Canvas {
    id: root
    property var samples: []
    property color color: "#bf5af2"
    property real lineWidth: 1.5
    readonly property bool drawsLine: samples !== undefined && samples !== null && samples.length >= 2

    implicitHeight: 40
    renderStrategy: Canvas.Immediate
    renderTarget: Canvas.Image
    onSamplesChanged: requestPaint()
    onColorChanged: requestPaint()
    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        if (!drawsLine || width <= 0 || height <= 0)
            return
        const half = lineWidth / 2
        const usable = height - lineWidth
        ctx.beginPath()
        for (let i = 0; i < samples.length; ++i) {
            const value = Math.max(0, Math.min(samples[i], 100))
            const x = i * width / (samples.length - 1)
            const y = half + usable - value / 100 * usable
            if (i === 0)
                ctx.moveTo(x, y)
            else
                ctx.lineTo(x, y)
        }
        ctx.lineWidth = lineWidth
        ctx.lineJoin = "round"
        ctx.strokeStyle = root.color
        ctx.stroke()
    }
}
