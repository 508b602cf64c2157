import QtQuick
import QtQuick.Layouts
import Quillmoor

// Memory as the models see it: what the system holds, what the loaded models take (their
// sizes as the model server reports them) and what is free, on one split bar. A GPU whose
// driver reports its own memory adds that line.
Card {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property real total: Math.max(stats.memoryTotal, 0)
    readonly property real aiUsed: Math.max(stats.aiVramUsed, 0)
    readonly property real systemUsed: Math.max(stats.memoryUsed - aiUsed, 0)
    readonly property real free: Math.max(stats.memoryTotal - stats.memoryUsed, 0)
    // The bar's scale: the machine's memory, or the parts' sum when the models' sizes
    // reach past it (weights partly in the GPU's own memory).
    readonly property real scale: Math.max(total, systemUsed + aiUsed + free, 0.001)

    objectName: "vramCard"
    title: "Unified VRAM Allocation"
    symbol: "memorychip"
    tint: "#0a84ff"

    Rectangle {
        objectName: "vramBar"
        Layout.fillWidth: true
        implicitHeight: 12
        radius: 6
        clip: true
        color: root.theme.isLight ? "#dcdce2" : Qt.rgba(1, 1, 1, 0.1)
        Row {
            anchors.fill: parent
            Rectangle { width: parent.width * root.systemUsed / root.scale; height: parent.height; color: "#0a84ff" }
            Rectangle { width: parent.width * root.aiUsed / root.scale; height: parent.height; color: "#bf5af2" }
            Rectangle { width: parent.width * root.free / root.scale; height: parent.height; color: "#30d158" }
        }
    }
    Flow {
        Layout.fillWidth: true
        spacing: 12
        LegendItemSmall { objectName: "legendSystem"; color: "#0a84ff"; label: "System " + Format.fixed(root.systemUsed) + "G"; textColor: root.theme.textColor }
        LegendItemSmall { objectName: "legendAI"; color: "#bf5af2"; label: "AI VRAM " + Format.fixed(root.aiUsed) + "G"; textColor: root.theme.textColor }
        LegendItemSmall { objectName: "legendFree"; color: "#30d158"; label: "Free " + Format.fixed(root.free) + "G"; textColor: root.theme.textColor }
    }
    Text {
        objectName: "gpuMemoryLine"
        Layout.fillWidth: true
        visible: root.stats.gpuMemoryTotal > 0
        text: "GPU memory " + Format.fixed(root.stats.gpuMemoryUsed) + " of " + Format.gb(root.stats.gpuMemoryTotal) + " in use (driver)"
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        wrapMode: Text.WordWrap
    }
    RowLayout {
        objectName: "vramAlert"
        Layout.fillWidth: true
        visible: root.stats.hostVramSplitAlert
        spacing: 6
        SymbolImage { Layout.alignment: Qt.AlignTop; symbol: "exclamationmark.triangle"; tint: "#ff9f0a"; side: 13 }
        Text {
            Layout.fillWidth: true
            // Three quarters of memory is a rule of thumb, not a limit the kernel reports.
            text: "AI limits: Max safe local VRAM is " + Format.estimate(Format.gb(root.stats.aiVramTotal), root.stats.aiVramTotalMeasured)
            color: "#ff9f0a"
            font.pixelSize: 11
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
    }
}
