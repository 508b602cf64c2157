import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Sensors" page: the temperatures, throttling and power figures, the
// thermal outlook, the CPU's last minute and the busiest processes, each of which can be
// frozen. A figure no sensor gave is marked "≈", or said to be missing.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    readonly property AIService aiService: Services.aiService

    // A temperature: read, estimated ("≈"), or, with nothing to go on, said to be missing.
    function temperatureText(celsius, measured, basis) {
        if (!measured && !basis)
            return "no sensor"
        return Format.estimate(Format.degrees(celsius) + "C", measured)
    }

    // The co-pilot's rule picks the line from load and package temperature. Its throttling
    // line names a time and a fan action that nothing here measures or starts, so the page
    // words that case as what it is: a rule of thumb.
    function outlook() {
        if (!stats || !aiService)
            return ""
        var line = aiService.predictThermalState(stats.socTemperature, stats.cpuUsage)
        if (line.indexOf("Thermal throttling") === 0)
            line = "Thermal throttling likely within minutes at this load (a rule of thumb, not a measured forecast). "
                 + "The fan override can cool ahead of it."
        if (!stats.socTemperatureMeasured)
            line += " No package temperature sensor answers: judged from CPU load alone."
        return line
    }

    heading: "Thermal Sensors & Power"
    caption: "Temperatures from the kernel's hwmon sensors; \u2248 marks an estimate where a part has none."
    tipsTitle: "Active Optimization Tips"
    tips: [
        "Keep laptop vents clear and use a hard surface: soft surfaces block the intake and raise package temperature.",
        "Sustained throttling above 0% means the CPU is trading clock speed for heat; close idle heavy processes below first.",
        "Freeze a runaway background process with the snowflake button instead of killing it; resume it when you need it.",
        "On battery, the power-saver profile (Power page) lowers both draw and heat.",
        "An SSD above 70°C slows its writes to protect itself; give the drive airflow or a heatsink."
    ]

    GridLayout {
        Layout.fillWidth: true
        columns: 3
        columnSpacing: 10
        rowSpacing: 10

        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "GPU TEMP"
            symbol: "thermometer"
            Text {
                objectName: "gpuTempValue"
                text: page.temperatureText(page.stats.gpuTemperature, page.stats.gpuTemperatureMeasured,
                                           page.stats.socTemperatureMeasured || page.stats.socTemperature > 0)
                color: page.theme.textColor; font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: page.stats.gpuTemperatureMeasured ? "GPU sensor" : "No GPU sensor: follows the CPU package"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "SSD TEMP"
            symbol: "externaldrive.fill"
            Text {
                objectName: "ssdTempValue"
                text: page.temperatureText(page.stats.ssdTemperature, page.stats.ssdTemperatureMeasured, true)
                color: page.theme.textColor; font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: page.stats.ssdTemperatureMeasured ? "Drive sensor (NVMe or drivetemp)" : "No drive sensor: a typical idle figure"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "THROTTLING"
            symbol: "gauge"
            Text {
                objectName: "throttlingValue"
                text: Format.percent(page.stats.throttlingStatus)
                color: page.stats.throttlingStatus > 0 ? "#ff453a" : page.theme.textColor
                font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: "Share of CPUs held back by heat"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "TEMPERATURE"
            symbol: "cpu.fill"
            Text {
                objectName: "socTempValue"
                text: page.temperatureText(page.stats.socTemperature, page.stats.socTemperatureMeasured,
                                           page.stats.socTemperature > 0)
                color: page.theme.textColor; font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: page.stats.socTemperatureMeasured ? "CPU package sensor"
                    : page.stats.socTemperature > 0 ? "Last reading; the sensor stopped answering" : "No CPU temperature sensor"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "EFFICIENCY"
            symbol: "leaf.fill"
            Text {
                objectName: "efficiencyValue"
                // Without a power reading the ratio would be the CPU load itself.
                text: page.stats.powerDraw > 0 ? Format.fixed(page.stats.efficiencyRatio, 1) : "n/a"
                color: page.theme.textColor; font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: page.stats.powerDraw > 0 ? "P/W Ratio (CPU % per watt)" : "P/W Ratio: needs a power reading"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
        Card {
            Layout.fillWidth: true
            Layout.preferredWidth: 1   // equal columns, whatever each card's text
            Layout.fillHeight: true    // and equal heights along a row
            title: "POWER DRAW"
            symbol: "bolt.fill"
            Text {
                objectName: "powerValue"
                text: page.stats.powerDraw > 0 ? Format.watts(page.stats.powerDraw) : "n/a"
                color: page.theme.textColor; font.pixelSize: 22; font.weight: Font.Bold
            }
            Text {
                text: page.stats.powerDraw > 0 ? "From the battery's own reading" : "No battery power reading"
                color: page.theme.secondaryTextColor; font.pixelSize: 10
                Layout.fillWidth: true; wrapMode: Text.Wrap
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "THERMAL OUTLOOK"
        symbol: "sparkles"
        Text {
            objectName: "predictionText"
            text: page.outlook()
            color: page.theme.textColor
            font.pixelSize: 12
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    Card {
        Layout.fillWidth: true
        title: "CPU Usage History"
        symbol: "cpu"
        HistoryChart {
            objectName: "cpuHistoryChart"
            Layout.fillWidth: true
            plotHeight: 120
            values: page.stats.cpuHistory
            color: page.theme.accentColor
            label: "CPU Usage History"
            maximum: 100
            unit: "%"
            spanText: "\u221260 s"
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Top Processes"
        symbol: "list.bullet"
        // A list view that hands a departing row's delegate to the next newcomer: the
        // ranking changes every second, and building rows afresh each time would cost more
        // than the rest of the page together.
        ListView {
            id: processList
            objectName: "processList"
            Layout.fillWidth: true
            implicitHeight: contentHeight
            interactive: false
            reuseItems: true
            currentIndex: -1   // no current row, so nothing to follow as rows move
            highlightFollowsCurrentItem: false
            spacing: 4
            model: Services.topProcesses
            // Rows laid out as soon as the ranking changes, not while the next frame is
            // prepared: the software renderer would draw that frame twice.
            Connections {
                target: Services.topProcesses
                function onReordered() { processList.forceLayout() }
            }
            delegate: ProcessRow {
                required property var model   // for its id: QML keeps `id` for itself
                required property string fullPath
                required property string icon
                required property bool isSuspended
                required property double cpuUsage
                required property string name
                objectName: "processRow"
                width: ListView.view.width
                processName: name
                image: icon
                label: Services.preferences.showFullProcessPath && fullPath.length ? fullPath : name
                value: Format.percent(cpuUsage, 1)
                suspended: isSuspended
                canToggleSuspend: page.processMonitor !== null
                advancedMode: Services.preferences.advancedMode
                color: page.theme.accentColor
                onToggleSuspend: page.processMonitor.toggleSuspend(model.id)
            }
        }
    }
}
