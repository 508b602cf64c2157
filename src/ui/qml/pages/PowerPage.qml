import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's power page: the battery, the measured draw, the efficiency ratio, the
// apps that cost the most energy and the low power switch. A figure the machine does not
// measure is marked "≈" or left out, never shown as a reading.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property PresetManager presets: Services.presets

    // The last refusal of the power profile daemon; cleared by the next switch.
    property string lowPowerError

    // The same colours the presets page gives each preset.
    readonly property var presetColors: ({
        "Inference Max": "#bf5af2", "Local Training": "#ff9f0a", "Compile Max": "#ffd60a",
        "Creative Max": "#ff375f", "Game Mode": "#64d2ff", "Eco Dev": "#30d158", "Vanilla Mac": "#0a84ff"
    })

    readonly property string batteryState: !stats.hasBattery ? "No battery"
                                         : stats.batteryIsCharging ? "Charging"
                                         : stats.isUnplugged ? "Discharging" : "On mains, not charging"
    readonly property string drawSource: stats.powerDrawSource === "battery" ? "Measured at the battery"
                                       : stats.powerDrawSource === "rapl" ? "Processor package (RAPL counters)"
                                       : "No battery or RAPL reading"

    // The five names with the largest accumulated drain, largest first.
    readonly property var shameRows: {
        const map = processMonitor.batteryShameList
        const rows = []
        for (const name in map)
            rows.push({ name: name, drain: map[name] })
        rows.sort((a, b) => b.drain - a.drain)
        return rows.slice(0, 5)
    }

    heading: "Power & Efficiency Booster"
    caption: "Draw and battery as the kernel reports them."
    tipsTitle: "Active Power Optimization Tips"
    tips: [
        "Dim the display and turn off keyboard backlighting: on a laptop they often draw more than an idle processor.",
        "Stop background builds, indexers and sync clients while on battery; the wall of shame shows who keeps the processor busy.",
        "Unload local AI models you are not using: a loaded model keeps the GPU and memory powered.",
        "Switch to the power-saver profile for long unplugged sessions."
    ]

    Connections {
        target: page.stats
        function onLowPowerModeFailed(error) { page.lowPowerError = error }
    }

    Flow {
        objectName: "presetBadges"
        Layout.fillWidth: true
        // Room for the active badge's halo and pulse, which reach past its edges and would
        // be cut by the page's clip at the left.
        padding: 6
        spacing: 10
        Repeater {
            model: page.presets.allPresets
            PresetMiniBadge {
                required property var modelData
                title: modelData.name
                icon: modelData.icon
                color: page.presetColors[modelData.name] || page.theme.accentColor
                active: modelData.name === page.presets.activePreset
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        MemoryCard {
            objectName: "batteryCard"
            Layout.fillWidth: true
            title: "Battery"
            value: page.stats.hasBattery ? Format.percent(page.stats.batteryPercentage) : "No battery"
            caption: page.stats.hasBattery
                     ? page.batteryState + (page.stats.batteryTimeToEmpty > 0
                                            ? " \u00b7 " + Math.floor(page.stats.batteryTimeToEmpty / 60) + " h "
                                              + (page.stats.batteryTimeToEmpty % 60) + " min left" : "")
                     : "This machine runs on mains power"
            color: page.stats.hasBattery && page.stats.batteryPercentage <= 20 && !page.stats.batteryIsCharging
                   ? "#ff453a" : "#30d158"
        }
        MemoryCard {
            objectName: "powerDrawCard"
            Layout.fillWidth: true
            title: "Power Draw"
            value: page.stats.powerDrawMeasured ? Format.watts(page.stats.powerDraw) : "Not measured"
            caption: page.drawSource
            color: "#ff9f0a"
        }
        MemoryCard {
            objectName: "efficiencyCard"
            Layout.fillWidth: true
            title: "Efficiency:"
            // Work per watt needs the watts: without a measured draw there is no ratio to
            // give, only the CPU load over a guess.
            value: page.stats.powerDrawMeasured ? Format.fixed(page.stats.efficiencyRatio) + " ops/W" : "n/a"
            caption: page.stats.powerDrawMeasured ? "CPU use per measured watt" : "Needs a measured draw"
            color: "#64d2ff"
        }
    }

    Card {
        Layout.fillWidth: true
        title: "App Battery Wall of Shame"
        symbol: "bolt.fill"
        Text {
            Layout.fillWidth: true
            text: "Estimated from each app's CPU time since Quillmoor started: Linux keeps no energy counter per app."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        Repeater {
            model: page.shameRows
            SensorRow {
                required property var modelData
                required property int index
                objectName: "shameRow"
                Layout.fillWidth: true
                title: (index + 1) + ". " + modelData.name
                value: Format.estimate(Format.fixed(modelData.drain, 2), false)
                valueColor: index === 0 ? "#ff453a" : page.theme.textColor
            }
        }
        Text {
            visible: page.shameRows.length === 0
            text: "No process sampled yet."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Energy Saving"
        symbol: "leaf.fill"
        tint: "#30d158"
        ToggleRow {
            objectName: "lowPowerToggle"
            Layout.fillWidth: true
            text: "Energy Saving / Low Power Mode"
            symbol: "leaf.fill"
            caption: "Switches the power profile to power-saver; switching off returns to the profile before."
            checked: page.stats.isLowPowerModeEnabled
            available: page.stats.lowPowerModeAvailable
            unavailableText: "Unavailable: power-profiles-daemon does not answer on this machine, and it is what switches the profile."
            onToggled: on => {
                page.lowPowerError = ""
                page.stats.isLowPowerModeEnabled = on
            }
        }
        Text {
            objectName: "lowPowerActive"
            Layout.fillWidth: true
            visible: page.stats.isLowPowerModeEnabled
            text: "Low Power Mode Active. Battery life is extended; by how much depends on what runs."
            color: "#30d158"
            font.pixelSize: 12
            font.weight: Font.DemiBold
            wrapMode: Text.WordWrap
        }
        Text {
            objectName: "lowPowerError"
            Layout.fillWidth: true
            visible: text.length > 0
            text: page.lowPowerError
            color: "#ff453a"
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }
}
