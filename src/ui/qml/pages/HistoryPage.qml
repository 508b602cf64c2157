import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's "History" page: the process table's snapshots of the last minutes, scrubbed
// with the Time Machine slider, the CPU history export, and a rule-based health reading.
DashboardPage {
    id: page
    objectName: "historyPage"
    heading: "System History & DVR"
    caption: "Scrub back in time to see exactly what processes were running."
    tipsTitle: "Active History & DVR Tips"
    tips: [
        "The process table records a snapshot every two seconds and keeps the last four minutes.",
        "Drag the Time Machine slider, or use the arrow keys on it, to see which processes ran at a spike.",
        "Leave the slider at its right end to follow the newest snapshot as it arrives.",
        "Export the CPU history to compare a build or a model run against the minute before it."
    ]

    readonly property SystemStatsProvider stats: Services.stats
    // Where the last export went, or why it did not.
    property string exportPath
    property bool exportFailed
    property string healthReport
    property bool analyzing

    DVRTimeline {
        id: timeline
        snapshots: Services.dvrSnapshots
    }

    Card {
        Layout.fillWidth: true
        title: "Time Machine"
        symbol: "clock"

        Text {
            objectName: "noSnapshots"
            visible: timeline.count === 0
            Layout.fillWidth: true
            text: "No snapshots yet: the process table records one every two seconds."
            color: page.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }

        // Each snapshot's whole-machine CPU use as a bar, oldest on the left; the chosen one
        // is drawn in the accent colour under a marker. A click picks the snapshot under it.
        Item {
            id: strip
            objectName: "snapshotStrip"
            visible: timeline.count > 0
            Layout.fillWidth: true
            Layout.preferredHeight: 54
            readonly property real slot: timeline.count > 0 ? width / timeline.count : 0
            Accessible.role: Accessible.Chart
            Accessible.name: "CPU use of each snapshot"

            Rectangle {
                anchors.fill: parent
                radius: 4
                color: page.theme.cardBackground
            }
            Repeater {
                model: page.shown ? timeline.cpuHistory : []
                Rectangle {
                    required property int index
                    required property real modelData
                    x: index * strip.slot + strip.slot * 0.15
                    width: Math.max(1, strip.slot * 0.7)
                    height: Math.max(2, (strip.height - 8) * Math.min(100, Math.max(0, modelData)) / 100)
                    y: strip.height - height
                    color: index === timeline.index ? page.theme.accentColor : page.theme.secondaryTextColor
                    opacity: index === timeline.index ? 1 : 0.45
                }
            }
            Rectangle {
                objectName: "scrubMarker"
                visible: timeline.index >= 0
                x: (timeline.index + 0.5) * strip.slot - width / 2
                width: 2
                height: strip.height
                color: page.theme.accentColor
            }
            MouseArea {
                anchors.fill: parent
                onClicked: (mouse) => timeline.index = Math.floor(mouse.x / Math.max(1, strip.slot))
            }
        }
        RowLayout {
            visible: timeline.count > 0
            Layout.fillWidth: true
            Text {
                text: "Oldest"
                color: page.theme.secondaryTextColor
                font.pixelSize: 10
            }
            Item { Layout.fillWidth: true }
            Text {
                text: "Now"
                color: page.theme.secondaryTextColor
                font.pixelSize: 10
            }
        }

        Slider {
            id: scrubber
            objectName: "timeMachineSlider"
            Layout.fillWidth: true
            from: 0
            to: Math.max(1, timeline.count - 1)
            stepSize: 1
            snapMode: Slider.SnapAlways
            enabled: timeline.count > 1
            focusPolicy: Qt.StrongFocus
            value: Math.max(0, timeline.index)
            Accessible.name: "Time Machine"
            onMoved: timeline.index = Math.round(value)
        }
        Text {
            objectName: "snapshotTime"
            visible: timeline.count > 0
            Layout.fillWidth: true
            text: Qt.formatTime(timeline.timestamp, "hh:mm:ss")
                  + (timeline.followsLatest ? "  ·  latest snapshot"
                                            : "  ·  " + timeline.secondsBeforeLatest + " s before the latest")
                  + "  ·  total CPU " + Format.percent(timeline.cpuUsage, 1)
            color: page.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
        }

        Text {
            visible: timeline.count > 0 && timeline.processes.count === 0
            text: "No processes in this snapshot."
            color: page.theme.secondaryTextColor
            font.pixelSize: 12
        }
        Repeater {
            model: timeline.processes
            RowLayout {
                required property string name
                required property double cpuUsage
                required property bool isSuspended
                objectName: "snapshotProcess"
                Layout.fillWidth: true
                spacing: 8
                Text {
                    Layout.fillWidth: true
                    text: parent.name + (parent.isSuspended ? "  (frozen)" : "")
                    color: page.theme.textColor
                    font.pixelSize: 12
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "snapshotProcessCpu"
                    text: "CPU: " + Format.percent(parent.cpuUsage, 1)
                    color: page.theme.secondaryTextColor
                    font.pixelSize: 12
                    font.family: "monospace"
                }
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Export History"
        symbol: "square.and.arrow.up"

        Text {
            Layout.fillWidth: true
            text: "Export your system performance data for analysis."
            color: page.theme.textColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        RunningButton {
            objectName: "exportButton"
            text: "Export CPU History (CSV)"
            symbol: "square.and.arrow.up"
            enabled: page.stats !== null
            onClicked: {
                const path = page.stats.exportHistoryToCSV()
                page.exportFailed = path.length === 0
                page.exportPath = path
            }
        }
        Text {
            Layout.fillWidth: true
            text: "Historical logs export the last 60 seconds of performance data."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        TextEdit {
            objectName: "exportResult"
            visible: page.exportFailed || page.exportPath.length > 0
            Layout.fillWidth: true
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.WrapAnywhere
            font.pixelSize: 12
            color: page.exportFailed ? "#ff453a" : page.theme.textColor
            text: page.exportFailed ? "The history could not be written to the temporary folder."
                                    : "Saved to " + page.exportPath
        }
    }

    Card {
        Layout.fillWidth: true
        title: "AI Health Analysis"
        symbol: "sparkles"

        Text {
            objectName: "historySummary"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            color: page.theme.textColor
            font.pixelSize: 12
            text: {
                const h = timeline.cpuHistory
                if (h.length === 0)
                    return "No history recorded yet."
                let sum = 0, peak = 0, at = 0
                for (let i = 0; i < h.length; ++i) {
                    sum += h[i]
                    if (h[i] > peak) { peak = h[i]; at = i }
                }
                return "Across " + h.length + " snapshots the whole machine averaged "
                     + Format.percent(sum / h.length, 1) + " CPU, peaking at "
                     + Format.percent(peak, 1) + " (snapshot " + (at + 1) + " of " + h.length + ")."
            }
        }
        Text {
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
            text: "The health reading below is worked out on this machine by fixed rules over the current "
                  + "temperature, memory pressure and battery level; no AI model is involved."
        }
        RunningButton {
            objectName: "healthButton"
            text: "Analyze System Health"
            runningText: "Analyzing..."
            symbol: "sparkles"
            running: page.analyzing
            enabled: Services.aiService !== null && page.stats !== null && !running
            onClicked: {
                page.analyzing = true
                // A machine without a battery is told so, not that its battery is empty.
                const s = page.stats
                Services.aiService.generateHealthReport(s.cpuUsage, s.socTemperature, s.memoryPressure,
                                                        s.hasBattery ? s.batteryPercentage : -1)
            }
        }
        Text {
            objectName: "healthReport"
            visible: text.length > 0
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            color: page.theme.textColor
            font.pixelSize: 12
            text: page.healthReport
        }
        Connections {
            target: Services.aiService
            function onHealthReportReady(report: string) {
                page.healthReport = report
                page.analyzing = false
            }
        }
    }
}
