import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's "System Info" page (SystemInfoView): the machine's description in six
// blocks, and its plain-text report copied for a bug report or a forum post.
DashboardPage {
    id: page
    objectName: "systemInfoPage"
    heading: "Machine Hardware Profile"
    caption: "What this machine is made of, as Quillmoor reads it."
    tipsTitle: "System Info Tips"
    tips: [
        "Copy Spec Report puts a plain-text summary on the clipboard, ready to paste into a bug report.",
        "Figures marked \u2248 are estimates: the system does not report them directly.",
        "The Serial ID is made from the model name for display; it is never the machine's real serial number."
    ]

    readonly property machineHardwareInfo machine: Services.machine
    readonly property SystemStatsProvider stats: Services.stats
    property bool copied
    property bool copyFailed

    // A label and its value; a long value (an OS name, a processor) wraps inside its card.
    component InfoRow: RowLayout {
        id: row
        property string title
        property string subtitle
        property string value
        Layout.fillWidth: true
        spacing: 10
        Accessible.role: Accessible.StaticText
        Accessible.name: title + ": " + value
        ColumnLayout {
            Layout.alignment: Qt.AlignTop
            Layout.preferredWidth: 130
            Layout.maximumWidth: 160
            spacing: 1
            Text {
                Layout.fillWidth: true
                text: row.title
                color: page.theme.textColor
                font.pixelSize: 12
                font.weight: Font.DemiBold
                wrapMode: Text.WordWrap
            }
            Text {
                Layout.fillWidth: true
                visible: row.subtitle.length > 0
                text: row.subtitle
                color: page.theme.secondaryTextColor
                font.pixelSize: 10
                wrapMode: Text.WordWrap
            }
        }
        Text {
            Layout.fillWidth: true
            Layout.preferredWidth: 100   // whatever is left of the card, not the text's own width
            Layout.alignment: Qt.AlignTop
            text: row.value
            color: page.theme.textColor
            font.pixelSize: 12
            horizontalAlignment: Text.AlignRight
            // Proportional: a kernel release or a CPU name in a fixed-width face broke over
            // four lines in a half-width card.
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        RunningButton {
            objectName: "copyReportButton"
            text: page.copied ? "Copied Spec Report!" : "Copy Spec Report"
            symbol: page.copied ? "checkmark" : "doc.on.doc"
            onClicked: {
                const ok = Clipboard.setText(page.machine.specReport())
                page.copied = ok
                page.copyFailed = !ok
                if (ok)
                    copiedReset.restart()
            }
        }
        Text {
            objectName: "copyError"
            visible: page.copyFailed
            text: "No clipboard to copy to."
            color: "#ff453a"
            font.pixelSize: 12
        }
        Item { Layout.fillWidth: true }
    }
    // The button reads "Copied" for a moment, then offers to copy again.
    Timer {
        id: copiedReset
        interval: 2500
        onTriggered: page.copied = false
    }

    GridLayout {
        Layout.fillWidth: true
        columns: page.width > 640 ? 2 : 1
        columnSpacing: 12
        rowSpacing: 12

        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            objectName: "processorBlock"
            title: "Processor & Architecture"
            symbol: "cpu"
            InfoRow { objectName: "processorRow"; title: "Processor"; value: page.machine.processor }
            InfoRow { objectName: "coresRow"; title: "Total Cores"; value: page.machine.cpuCores + " Cores" }
            InfoRow { title: "Performance Cores"; value: String(page.machine.performanceCores) }
            InfoRow { title: "Efficiency Cores"; value: String(page.machine.efficiencyCores) }
        }
        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            title: "Graphics & Neural Compute"
            symbol: "sparkles"
            InfoRow {
                objectName: "gpuCoresRow"
                title: "GPU Cores"
                subtitle: "Estimated from the CPU core count"
                value: Format.estimate(page.machine.gpuCores + " Cores", false)
            }
            InfoRow { title: "Neural Engine"; value: page.machine.neuralEngine }
            InfoRow {
                visible: page.stats !== null && page.stats.gpuMemoryTotal > 0
                title: "GPU Memory"
                value: page.stats ? Format.gb(page.stats.gpuMemoryTotal, 1) : ""
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            title: "System Identifiers"
            symbol: "info.circle.fill"
            InfoRow { objectName: "modelNameRow"; title: "Model Name"; value: page.machine.modelName }
            InfoRow { title: "Model Identifier"; value: page.machine.modelIdentifier || "Not reported" }
            InfoRow { objectName: "osRow"; title: "OS Version"; value: page.machine.osVersion }
            InfoRow {
                objectName: "serialRow"
                title: "Serial ID"
                subtitle: "For display; not the hardware serial"
                value: page.machine.serialNumber
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            title: "Memory & Bus Width"
            symbol: "memorychip"
            InfoRow { objectName: "memoryRow"; title: "Physical Memory"; value: Format.gb(page.machine.physicalMemoryGB, 1) }
            InfoRow { title: "Memory Bandwidth"; value: page.machine.memoryBandwidth }
        }
        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            title: "Thermal & Cooling Design"
            symbol: "thermometer"
            InfoRow {
                title: "Processor Temperature"
                value: page.stats && page.stats.socTemperature > 0 ? Format.degrees(page.stats.socTemperature) : "Not reported"
            }
            InfoRow {
                objectName: "fanRow"
                title: "Fans"
                value: page.stats && page.stats.fanRPMsMeasured
                       ? page.stats.fanRPMs.length + (page.stats.fanRPMs.length === 1 ? " fan reported" : " fans reported")
                       : "No fan sensor reported"
            }
            InfoRow {
                title: "Fan Control"
                value: page.stats && page.stats.turboCoolingAvailable ? "Manual override available" : "Firmware controlled"
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.preferredWidth: 1
            title: "Power Profile"
            symbol: "bolt.fill"
            InfoRow {
                objectName: "powerSourceRow"
                title: "Running On"
                value: !page.stats ? "" : !page.stats.hasBattery ? "External power (no battery)"
                       : page.stats.isUnplugged ? "Battery" : "External power"
            }
            InfoRow {
                visible: page.stats !== null && page.stats.hasBattery
                title: "Battery"
                value: page.stats ? Format.percent(page.stats.batteryPercentage, 0) : ""
            }
            InfoRow {
                title: "Power Draw"
                value: page.stats && page.stats.powerDraw > 0 ? Format.watts(page.stats.powerDraw) : "Not reported"
            }
            InfoRow {
                title: "Low Power Mode"
                value: !page.stats || !page.stats.lowPowerModeAvailable ? "Not available"
                       : page.stats.isLowPowerModeEnabled ? "On" : "Off"
            }
        }
    }
}
