import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The co-pilot's health report: asked for when the view appears (and again on request),
// with a thinking state until the answer is in.
Card {
    id: root
    readonly property AIService aiService: Services.aiService
    readonly property SystemStatsProvider stats: Services.stats
    property string report
    property bool analyzing: false

    title: "System Health Report"
    symbol: "sparkles"

    function refresh() {
        if (!aiService || !stats || analyzing)
            return
        analyzing = true
        // -1 tells the co-pilot there is no battery, so it does not call one empty.
        aiService.generateHealthReport(stats.cpuUsage, stats.socTemperature, stats.memoryPressure,
                                       stats.hasBattery ? stats.batteryPercentage : -1)
    }
    Component.onCompleted: refresh()

    Connections {
        target: root.aiService
        function onHealthReportReady(report: string) {
            root.report = report
            root.analyzing = false
        }
    }

    RowLayout {
        Layout.fillWidth: true
        visible: root.analyzing || root.report.length === 0
        spacing: 8
        BusyIndicator {
            objectName: "reportProgress"
            running: root.analyzing
            Layout.preferredWidth: 18
            Layout.preferredHeight: 18
        }
        Text {
            objectName: "reportAnalyzing"
            Layout.fillWidth: true
            text: "Analyzing system telemetry..."
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
        }
    }
    Text {
        objectName: "reportText"
        Layout.fillWidth: true
        visible: !root.analyzing && root.report.length > 0
        text: root.report
        color: root.theme.textColor
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }
    RunningButton {
        objectName: "reportRefresh"
        text: "Run Again"
        runningText: "Analyzing..."
        symbol: "sparkles"
        running: root.analyzing
        compact: true
        Keys.onReturnPressed: if (enabled) clicked()
        Keys.onEnterPressed: if (enabled) clicked()
        onClicked: root.refresh()
    }
}
