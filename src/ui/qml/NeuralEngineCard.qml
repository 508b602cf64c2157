import QtQuick
import QtQuick.Layouts
import Quillmoor

// The machine's neural processing unit: its name and the load its driver reports. Linux
// has no power counter for an NPU and most drivers no load counter either; a figure that
// is not measured is not shown, and a machine without an NPU is told so.
Card {
    id: root
    property bool showRing: false
    readonly property SystemStatsProvider stats: Services.stats
    readonly property string npuName: Services.machine.npuName || ""
    readonly property bool hasNpu: npuName.length > 0
    readonly property bool loadMeasured: hasNpu && stats.aneUsageMeasured === true

    objectName: "neuralEngineCard"
    title: "Neural Engine (NPU)"
    symbol: "cpu.fill"
    tint: "#bf5af2"

    Text {
        objectName: "npuName"
        Layout.fillWidth: true
        text: root.hasNpu ? root.npuName : "No neural engine on this machine"
        color: root.theme.textColor
        font.pixelSize: 13
        font.weight: Font.DemiBold
        wrapMode: Text.WordWrap
    }
    Text {
        objectName: "npuCaption"
        Layout.fillWidth: true
        visible: text.length > 0
        text: !root.hasNpu ? "Models run on the GPU and the processor; there is no accelerator under /sys/class/accel."
             : root.loadMeasured ? "" : "Its driver reports no load figure."
        color: root.theme.secondaryTextColor
        font.pixelSize: 11
        wrapMode: Text.WordWrap
    }
    RowLayout {
        Layout.fillWidth: true
        visible: root.loadMeasured
        spacing: 12
        CircularProgressView {
            objectName: "npuRing"
            visible: root.showRing
            progress: root.stats.aneUsage / 100
            color: "#bf5af2"
            label: Format.percent(root.stats.aneUsage)
            textColor: root.theme.textColor
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            RowLayout {
                Layout.fillWidth: true
                Text {
                    Layout.fillWidth: true
                    text: "NPU Compute Core Load"
                    color: root.theme.secondaryTextColor
                    font.pixelSize: 11
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "npuLoad"
                    text: Format.percent(root.stats.aneUsage, 1)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
            }
            Bar { Layout.fillWidth: true; fraction: root.stats.aneUsage / 100; tint: "#bf5af2" }
        }
    }
}
