import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The popover's memory tab: pressure and use, the breakdown, the top processes and swap.
ColumnLayout {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    spacing: 10

    readonly property real usedPercent: stats.memoryUsed / Math.max(stats.memoryTotal, 1) * 100
    readonly property real swapFill: Math.max(0, Math.min(stats.memorySwap * 0.25, 1))

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
                    label: Format.percent(parent.value)
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
        LegendItem { Layout.fillWidth: true; color: "#0a84ff"; label: "App Memory"; value: Format.gb(root.stats.memoryApp); textColor: root.theme.textColor }
        LegendItem { Layout.fillWidth: true; color: "#ff9f0a"; label: "Wired"; value: Format.gb(root.stats.memoryWired); textColor: root.theme.textColor }
        LegendItem { Layout.fillWidth: true; color: "#bf5af2"; label: "Compressed"; value: Format.gb(root.stats.memoryCompressed); textColor: root.theme.textColor }
        LegendItem {
            objectName: "freeLegend"
            Layout.fillWidth: true; color: "#30d158"; label: "Free"; textColor: root.theme.textColor
            value: Format.gb(Math.max(root.stats.memoryTotal - root.stats.memoryUsed, 0))
        }
    }

    ProcessList {
        Layout.fillWidth: true
        showFullProcessPath: root.preferences.showFullProcessPath
        advancedMode: root.preferences.advancedMode
        // Resident memory, as /proc reports it.
        figure: "memory"
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 4
        SectionHeader { text: "SWAP" }
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
            text: Format.gb(root.stats.memorySwap) + " of " + Format.gb(4)
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
        }
    }
    Item { Layout.fillHeight: true }
}
