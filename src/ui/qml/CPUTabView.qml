import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The popover's CPU tab: clock and temperature, load history, the load split, per-core
// bars by cluster, the advanced hardware figures, three gauges and the top processes.
ColumnLayout {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    spacing: 10

    readonly property color textColor: theme.textColor
    readonly property color secondaryText: theme.secondaryTextColor

    RowLayout {
        Layout.fillWidth: true
        SectionHeader { text: "PROCESSOR" }
        Item { Layout.fillWidth: true }
        Text {
            objectName: "clockText"
            // Figures this machine does not report are left out rather than shown as 0.
            text: [root.stats.cpuFrequencyGHz > 0 ? Format.ghz(root.stats.cpuFrequencyGHz) : "",
                   root.stats.socTemperature > 0 ? Format.degrees(root.stats.socTemperature) : ""]
                  .filter(function(part) { return part.length > 0 }).join(", ")
            color: root.secondaryText
            font.pixelSize: 11
            font.family: "monospace"
        }
    }

    SparklineView {
        objectName: "cpuSparkline"
        Layout.fillWidth: true
        Layout.preferredHeight: 44
        samples: root.stats.cpuHistory
        color: root.theme.accentColor
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 16
        LegendItem {
            objectName: "userLegend"
            Layout.fillWidth: true
            color: "#0a84ff"; label: "User"; textColor: root.textColor
            value: Format.percent(root.stats.cpuUserUsage)
        }
        LegendItem {
            objectName: "systemLegend"
            Layout.fillWidth: true
            color: "#ff453a"; label: "System"; textColor: root.textColor
            value: Format.percent(root.stats.cpuSystemUsage)
        }
    }

    CoreUsageGraphView {
        Layout.fillWidth: true
    }

    ColumnLayout {
        objectName: "advancedHardware"
        visible: root.preferences.advancedMode
        Layout.fillWidth: true
        spacing: 4
        SectionHeader { text: "ADVANCED HARDWARE" }
        HardwareRow {
            objectName: "fanRow"
            symbol: "fanblades.fill"; title: "Fan Speed"
            value: (root.stats.fanRPMsMeasured ? "" : "≈ ")
                   + (root.stats.fanRPMs.length ? Math.trunc(root.stats.fanRPMs[0]) : 0) + " RPM"
        }
        HardwareRow {
            objectName: "throttleRow"
            symbol: "thermometer.high"; title: "Thermal Throttling"
            value: Math.trunc(root.stats.throttlingStatus) + "%"
            valueColor: root.stats.throttlingStatus > 0 ? "#ff453a" : root.textColor
        }
        HardwareRow {
            objectName: "gpuTempRow"
            symbol: "cpu.fill"; title: "GPU Temp"
            value: Format.estimate(Format.degrees(root.stats.gpuTemperature), root.stats.gpuTemperatureMeasured)
        }
    }

    Rectangle { Layout.fillWidth: true; height: 1; color: root.theme.dividerColor }

    RowLayout {
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignHCenter
        spacing: 0
        Repeater {
            // A fixed model: the figures are bound in the delegates, so a new sample
            // updates three rings instead of building them again.
            model: ["PRESSURE", "DISK", "SWAP"]
            Item {
                required property string modelData
                required property int index
                readonly property real value: [root.stats.memoryPressure,
                                               root.stats.diskUsed / Math.max(root.stats.diskTotal, 1) * 100,
                                               Math.min(root.stats.memorySwap * 25, 100)][index]
                Layout.fillWidth: true
                implicitHeight: 62
                RingChart {
                    anchors.centerIn: parent
                    side: 58
                    lineWidth: 5
                    percentage: parent.value
                    label: Format.percent(parent.value)
                    title: parent.modelData
                    color: parent.value > 80 ? "#ff453a" : root.theme.accentColor
                    textColor: root.textColor
                    titleColor: root.secondaryText
                }
            }
        }
    }

    ProcessList {
        Layout.fillWidth: true
        showFullProcessPath: root.preferences.showFullProcessPath
        advancedMode: root.preferences.advancedMode
        headerSuffix: root.processMonitor.isPaused ? "(Paused for interaction)" : ""
        help: "Click the freeze icon to suspend this process's execution thread and release CPU resources, or double-click to view path detail."
        figure: "cpu"
    }

    Item { Layout.fillHeight: true }
}
