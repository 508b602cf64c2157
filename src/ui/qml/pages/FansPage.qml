import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Fans" page ("Fans & Cooling" for gamers): the fan speed and the curve in
// charge, the switch that holds every fan at full duty, and fan speed against the package
// temperature over the last two minutes.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ThemeManager theme: Services.theme
    // The fastest fan: headers with nothing plugged in read 0 beside the real ones.
    readonly property real fanSpeed: stats.fanRPMs.length ? Math.max.apply(null, stats.fanRPMs) : 0
    readonly property bool turbo: stats.forceTurboCooling

    heading: "Thermal Management & Fan Controller"
    caption: "Fan speeds from the hwmon tachometers; without one the figure follows the temperature curve and is marked \u2248."
    tipsTitle: "Active Thermal Optimization Tips"
    tips: [
        "Dust in the heatsink fins costs more cooling than any fan setting; clean them every few months.",
        "Fan control needs writable hwmon PWM files: a udev rule granting them to your user avoids running as root.",
        "Use the override for long builds or renders, then switch it off: full duty wears fan bearings and is loud.",
        "If the fan reads 0 RPM while the CPU is hot, check that the fan header is set to PWM in the firmware setup.",
        "A laptop stand that raises the rear lets the bottom intake breathe and lowers idle temperature."
    ]

    Card {
        Layout.fillWidth: true
        title: "FAN CONTROLLER"
        symbol: "fanblades.fill"
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Text { text: "Fan Speed: "; color: page.theme.secondaryTextColor; font.pixelSize: 13 }
            Text {
                objectName: "fanSpeedText"
                // An estimate needs something to follow: with neither a fan nor a CPU
                // sensor there is no figure to give.
                text: !page.stats.fanRPMsMeasured && !page.stats.socTemperatureMeasured
                      ? "no sensor"
                      : Format.estimate(Format.fixed(page.fanSpeed, 0) + " RPM", page.stats.fanRPMsMeasured)
                color: page.theme.textColor
                font.pixelSize: 13; font.weight: Font.Bold; font.family: "monospace"
            }
            Item { Layout.fillWidth: true }
        }
        Text {
            objectName: "fanSensorNote"
            visible: !page.stats.fanRPMsMeasured || page.stats.fanRPMs.length > 1
            text: !page.stats.fanRPMsMeasured
                  ? (page.stats.socTemperatureMeasured ? "no fan sensor: the figure is estimated from the CPU temperature"
                                                       : "no fan sensor and no CPU temperature to estimate it from")
                  : page.stats.fanRPMs.length + " fans: " + page.stats.fanRPMs.map(function(rpm) { return Format.fixed(rpm, 0) }).join(", ") + " RPM"
            color: page.theme.secondaryTextColor
            font.pixelSize: 10
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Text { text: "Active Curve:"; color: page.theme.secondaryTextColor; font.pixelSize: 13 }
            Text {
                objectName: "activeCurveText"
                text: page.turbo ? "TURBO OVERRIDE" : "System Auto"
                color: page.turbo ? "#ff9f0a" : page.theme.textColor
                font.pixelSize: 13; font.weight: Font.Bold
            }
            Item { Layout.fillWidth: true }
        }
    }

    ToggleRow {
        objectName: "turboToggle"
        Layout.fillWidth: true
        text: "Manual Turbofan Override Mode"
        caption: "Holds every PWM fan output at full duty until switched off."
        symbol: "wind"
        checked: page.stats.forceTurboCooling
        available: page.stats.turboCoolingAvailable
        unavailableText: "No fan output here can be written: the hwmon PWM files are missing or need root (or a udev rule granting them to you)."
        onToggled: function(on) { page.stats.forceTurboCooling = on }
    }
    Text {
        objectName: "turboActiveText"
        visible: page.turbo
        // Nothing measures how many degrees full duty saves, so no figure is claimed.
        text: "Preemptive cooling active. Fans at full duty to hold off thermal throttling."
        color: "#30d158"
        font.pixelSize: 12
        font.weight: Font.DemiBold
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    Card {
        Layout.fillWidth: true
        title: "FAN SPEED AND TEMPERATURE"
        symbol: "thermometer"
        HistoryChart {
            objectName: "fanChart"
            Layout.fillWidth: true
            plotHeight: 140
            values: page.stats.fanHistory
            color: "#64d2ff"
            label: page.stats.fanRPMsMeasured ? "Fan RPM" : "\u2248 Fan RPM"
            unit: " RPM"
            values2: page.stats.temperatureHistory
            color2: "#ff9f0a"
            label2: page.stats.socTemperatureMeasured ? "CPU \u00b0C" : "\u2248 CPU \u00b0C"
            unit2: "\u00b0C"
            spanText: "\u2212" + page.stats.fanHistory.length + " s"
        }
    }
}
