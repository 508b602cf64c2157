import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The popover's disk tab: use of the home volume, read and write rates, the top processes.
ColumnLayout {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    spacing: 10

    readonly property real usedPercent: stats.diskUsed / Math.max(stats.diskTotal, 1) * 100

    Item {
        Layout.fillWidth: true
        implicitHeight: 104
        RingChart {
            objectName: "diskRing"
            anchors.centerIn: parent
            percentage: root.usedPercent
            label: Math.trunc(root.usedPercent) + "%"
            title: "HOME"
            color: root.usedPercent > 80 ? "#ff453a" : "#ff9f0a"
            textColor: root.theme.textColor
            titleColor: root.theme.secondaryTextColor
            HoverHandler { id: diskHover }
            ToolTip.visible: diskHover.hovered
            ToolTip.text: "Shows current SSD utilization of the home volume. High disk saturation degrades virtual swap speeds."
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        Repeater {
            model: [
                { title: "Read", tint: "#30d158",
                  help: "Real-time sequential disk read transfer rate. Spikes indicate compiler asset loading or starting container images." },
                { title: "Write", tint: "#ff9f0a",
                  help: "Real-time sequential disk write transfer rate. Spikes indicate compilation build writes or cache updates." }
            ]
            Rectangle {
                id: tile
                required property var modelData
                required property int index
                readonly property real value: index === 0 ? root.stats.diskRead : root.stats.diskWrite
                Layout.fillWidth: true
                implicitHeight: 52
                radius: 10
                color: Qt.rgba(Qt.color(modelData.tint).r, Qt.color(modelData.tint).g, Qt.color(modelData.tint).b, 0.14)
                Column {
                    anchors.centerIn: parent
                    spacing: 2
                    Text { anchors.horizontalCenter: parent.horizontalCenter; text: modelData.title; color: root.theme.secondaryTextColor; font.pixelSize: 10 }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: Format.estimate(Format.mbPerSecond(tile.value), root.stats.diskThroughputMeasured)
                        color: modelData.tint
                        width: Math.min(implicitWidth, parent.parent.width - 12)
                        font.pixelSize: 14
                        fontSizeMode: Text.HorizontalFit
                        minimumPixelSize: 8
                        horizontalAlignment: Text.AlignHCenter
                        font.weight: Font.Bold
                        font.family: "monospace"
                    }
                }
                HoverHandler { id: tileHover }
                ToolTip.visible: tileHover.hovered
                ToolTip.text: modelData.help
                ToolTip.delay: 600
            }
        }
    }
    Text {
        objectName: "diskSummary"
        text: "Read " + Format.mbPerSecond(root.stats.diskRead) + " / Write " + Format.mbPerSecond(root.stats.diskWrite)
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        font.family: "monospace"
    }

    ProcessList {
        Layout.fillWidth: true
        showFullProcessPath: root.preferences.showFullProcessPath
        advancedMode: root.preferences.advancedMode
        // Per-process disk counters (/proc/<pid>/io) are private to their owners and root:
        // the rows carry no figure rather than a made-up one.
    }
    Item { Layout.fillHeight: true }
}
