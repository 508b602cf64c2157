import QtQuick
import QtQuick.Layouts
import Quillmoor

// A small line chart of one or two series over the same samples, oldest on the left. It
// repaints only when its data, size or colours change, and not at all while hidden.
ColumnLayout {
    id: root
    property var values: []
    property color color: theme.accentColor
    property string label
    property var values2: []
    property color color2: "#30d158"
    property string label2
    // The top of the scale; 0 scales to the largest sample (at least 1).
    property real maximum: 0
    property string unit
    property string spanText
    property int plotHeight: 110

    readonly property ThemeManager theme: Services.theme
    readonly property real scaleTop: {
        if (maximum > 0)
            return maximum
        let m = 1
        for (let i = 0; i < values.length; ++i)
            if (isFinite(values[i])) m = Math.max(m, values[i])
        for (let j = 0; j < values2.length; ++j)
            if (isFinite(values2[j])) m = Math.max(m, values2[j])
        return m * 1.1
    }
    spacing: 4
    Accessible.role: Accessible.Chart
    Accessible.name: label2.length > 0 ? label + " and " + label2 : label

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        LegendItem {
            label: root.label
            color: root.color
            textColor: root.theme.textColor
            visible: root.label.length > 0
        }
        LegendItem {
            label: root.label2
            color: root.color2
            textColor: root.theme.textColor
            visible: root.label2.length > 0
        }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "chartTop"
            text: Format.fixed(root.scaleTop, root.scaleTop >= 10 ? 0 : 1) + root.unit
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
        }
    }

    Canvas {
        id: plot
        objectName: "chartPlot"
        Layout.fillWidth: true
        Layout.preferredHeight: root.plotHeight
        renderStrategy: Canvas.Immediate
        renderTarget: Canvas.Image
        property bool stale: true

        function refresh() {
            stale = true
            if (root.visible)
                requestPaint()
        }
        onWidthChanged: refresh()
        onHeightChanged: refresh()
        onVisibleChanged: if (visible && stale) requestPaint()
        Connections {
            target: root
            function onValuesChanged() { plot.refresh() }
            function onValues2Changed() { plot.refresh() }
            function onScaleTopChanged() { plot.refresh() }
            function onColorChanged() { plot.refresh() }
            function onColor2Changed() { plot.refresh() }
            function onVisibleChanged() { if (root.visible && plot.stale) plot.requestPaint() }
        }

        function line(ctx, samples, colour) {
            if (samples.length < 2)
                return
            const usable = height - 2
            ctx.beginPath()
            for (let i = 0; i < samples.length; ++i) {
                const v = isFinite(samples[i]) ? Math.max(0, Math.min(samples[i], root.scaleTop)) : 0
                const x = i * width / (samples.length - 1)
                const y = 1 + usable - v / root.scaleTop * usable
                if (i === 0) ctx.moveTo(x, y)
                else ctx.lineTo(x, y)
            }
            ctx.lineWidth = 1.6
            ctx.lineJoin = "round"
            ctx.strokeStyle = colour
            ctx.stroke()
            // A faint fill under the line reads as area at a glance.
            ctx.lineTo(width, height)
            ctx.lineTo(0, height)
            ctx.closePath()
            ctx.fillStyle = Qt.rgba(colour.r, colour.g, colour.b, 0.12)
            ctx.fill()
        }

        onPaint: {
            stale = false
            const ctx = getContext("2d")
            ctx.reset()
            ctx.strokeStyle = root.theme.dividerColor
            ctx.lineWidth = 1
            for (let g = 1; g < 4; ++g) {
                const y = Math.round(g * height / 4) + 0.5
                ctx.beginPath()
                ctx.moveTo(0, y)
                ctx.lineTo(width, y)
                ctx.stroke()
            }
            line(ctx, root.values, root.color)
            line(ctx, root.values2, root.color2)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        Text {
            text: root.spanText
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
        }
        Item { Layout.fillWidth: true }
        Text {
            text: "now"
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
        }
    }
}
