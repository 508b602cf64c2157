import QtQuick
import QtQuick.Layouts

// The "PROCESSES" section of a telemetry tab: the first four rows of the process table,
// each with the figure `valueOf(process)` gives.
ColumnLayout {
    id: root
    property var processMonitor
    property var theme
    property var aiService
    property bool showFullProcessPath: false
    property bool advancedMode: false
    property string help
    property string headerSuffix
    property var valueOf: function(process) { return "" }
    readonly property var rows: processMonitor ? processMonitor.topProcesses.slice(0, 4) : []
    spacing: 4

    SectionHeader {
        objectName: "processesHeader"
        theme: root.theme
        text: "PROCESSES" + (root.headerSuffix.length ? " " + root.headerSuffix : "")
    }
    Repeater {
        model: root.rows
        ProcessRow {
            required property var modelData
            Layout.fillWidth: true
            image: modelData.icon
            name: root.showFullProcessPath && modelData.fullPath.length ? modelData.fullPath : modelData.name
            value: root.valueOf(modelData)
            isSuspended: modelData.isSuspended
            canToggleSuspend: root.processMonitor !== null
            advancedMode: root.advancedMode
            help: root.help
            theme: root.theme
            aiService: root.aiService
            color: root.theme ? root.theme.accentColor : "#0a84ff"
            onToggleSuspend: root.processMonitor.toggleSuspend(modelData.id)
        }
    }
}
