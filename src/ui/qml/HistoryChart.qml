import QtQuick
import QtQuick.Layouts
import Quillmoor

// A small line chart of one or two series over the same samples, oldest on the left. It
// repaints only when its data, size or colours change. A sample that is not a number is
// a gap; with no reading at all the chart says so instead of inventing a scale.
ColumnLayout {
    id: root
    property var values: []
    property color color: theme.accentColor
    property string label
    property var values2: []
    property color color2: "#30d158"
    property string label2
    // The top of the scale; 0 scales to the largest sample, or to 1 while every sample is 0.
    property real maximum: 0
    property string unit
    // A second series in another unit (fan RPM beside °C) gets its own scale: set unit2.
    // Empty, both series share the first scale.
    property string unit2
    property real maximum2: 0
    readonly property bool twoScales: unit2.length > 0
    property string spanText
    property int plotHeight: 110

    readonly property ThemeManager theme: Services.theme
    readonly property bool hasData: {
        for (let i = 0; i < values.length; ++i)
            if (isFinite(values[i])) return true
        for (let j = 0; j < values2.length; ++j)
            if (isFinite(values2[j])) return true
        return false
    }
    readonly property real scaleTop: {
        if (maximum > 0)
            return maximum
        let m = 0
        for (let i = 0; i < values.length; ++i)
            if (isFinite(values[i])) m = Math.max(m, values[i])
        if (!twoScales)
            for (let j = 0; j < values2.length; ++j)
                if (isFinite(values2[j])) m = Math.max(m, values2[j])
        return m > 0 ? m * 1.1 : 1   // a flat zero line still has a scale
    }
    readonly property real scaleTop2: {
        if (!twoScales)
            return scaleTop
        if (maximum2 > 0)
            return maximum2
        let m = 0
        for (let j = 0; j < values2.length; ++j)
            if (isFinite(values2[j])) m = Math.max(m, values2[j])
        return m > 0 ? m * 1.1 : 1   // a flat zero line still has a scale
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
            visible: root.hasData
            text: Format.fixed(root.scaleTop, root.scaleTop >= 10 ? 0 : 1) + root.unit
            color: root.twoScales ? root.color : root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
        }
        Text {
            objectName: "chartTop2"
            visible: root.twoScales && root.hasData
            text: Format.fixed(root.scaleTop2, root.scaleTop2 >= 10 ? 0 : 1) + root.unit2
            color: root.color2
            font.pixelSize: 10
            font.family: "monospace"
        }
    }

    HistoryPlot {
        id: plot
        objectName: "chartPlot"
        Layout.fillWidth: true
        Layout.preferredHeight: root.plotHeight
        values: root.values
        values2: root.values2
        scaleTop: root.scaleTop
        scaleTop2: root.scaleTop2
        color: root.color
        color2: root.color2
        gridColor: root.theme.dividerColor
        // Charts sit on cards on the page: painted opaque in the colour the card shows
        // there, the renderer need not redraw the card and the page under the plot every
        // second. A see-through page leaves the plot see-through too.
        fillColor: {
            const shown = Qt.tint(root.theme.contentBackground, root.theme.cardBackground)
            return shown.a === 1 ? shown : "transparent"
        }

        Text {
            objectName: "chartEmpty"
            anchors.centerIn: parent
            visible: !root.hasData
            text: "No readings yet"
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
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
