import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The popover's memory tab: pressure and use, the breakdown, the top processes and swap.
ColumnLayout {
    id: root
    required property var stats
    required property var processMonitor
    required property var theme
    required property var preferences
    property var aiService: null
    spacing: 10

    readonly property real usedPercent: stats.memoryUsed / Math.max(stats.memoryTotal, 1) * 100
    readonly property real swapFill: Math.max(0, Math.min(stats.memorySwap * 0.25, 1))
    function gb(value) { return Number(value).toFixed(1) + " GB" }

    RowLayout {
        Layout.fillWidth: true
        Repeater {
            model: [
                { title: "PRESSURE",
                  help: "Memory Pressure indicates how heavily your Mac depends on virtual swap. Red/Yellow zones indicate physical RAM saturation." },
                { title: "USED",
                  help: "Total active physical memory pages loaded. Includes wired kernel pages, compressed memory, and active apps." }
            ]
            Item {
                required property var modelData
                required property int index
                readonly property real value: index === 0 ? root.stats.memoryPressure : root.usedPercent
                Layout.fillWidth: true
                implicitHeight: 100
                RingChart {
                    anchors.centerIn: parent
                    percentage: parent.value
                    label: Number(parent.value).toFixed(0) + "%"
                    title: parent.modelData.title
                    color: parent.value > 80 ? "#ff453a" : "#bf5af2"
                    textColor: root.theme.textColor
                    titleColor: root.theme.secondaryTextColor
                    HoverHandler { id: ringHover }
                    ToolTip.visible: ringHover.hovered
                    ToolTip.text: modelData.help
                    ToolTip.delay: 600
                }
            }
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 3
        LegendItem { Layout.fillWidth: true; color: "#0a84ff"; label: "App Memory"; value: root.gb(root.stats.memoryApp); textColor: root.theme.textColor }
        LegendItem { Layout.fillWidth: true; color: "#ff9f0a"; label: "Wired"; value: root.gb(root.stats.memoryWired); textColor: root.theme.textColor }
        LegendItem { Layout.fillWidth: true; color: "#bf5af2"; label: "Compressed"; value: root.gb(root.stats.memoryCompressed); textColor: root.theme.textColor }
        LegendItem {
            objectName: "freeLegend"
            Layout.fillWidth: true; color: "#30d158"; label: "Free"; textColor: root.theme.textColor
            value: root.gb(Math.max(root.stats.memoryTotal - root.stats.memoryUsed, 0))
        }
    }

    ProcessList {
        Layout.fillWidth: true
        processMonitor: root.processMonitor
        theme: root.theme
        aiService: root.aiService
        showFullProcessPath: root.preferences.showFullProcessPath
        advancedMode: root.preferences.advancedMode
        // Resident memory, as /proc reports it.
        valueOf: function(process) { return Number(process.memoryBytes / 1073741824).toFixed(1) + " GB" }
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 4
        SectionHeader { theme: root.theme; text: "SWAP" }
        Rectangle {
            objectName: "swapTrack"
            Layout.fillWidth: true
            height: 6
            radius: 3
            color: Qt.rgba(0.5, 0.5, 0.5, 0.2)
            Rectangle {
                objectName: "swapBar"
                width: parent.width * root.swapFill
                height: parent.height
                radius: 3
                color: root.swapFill >= 1 ? "#ff453a" : "#ff9f0a"
            }
            HoverHandler { id: swapHover }
            ToolTip.visible: swapHover.hovered
            ToolTip.text: "Swap space represents virtual memory written to the SSD. High swap usage on high-pressure systems degrades performance."
        }
        Text {
            objectName: "swapText"
            text: Number(root.stats.memorySwap).toFixed(1) + " GB of " + Number(4).toFixed(1) + " GB"
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
        }
    }
    Item { Layout.fillHeight: true }
}
