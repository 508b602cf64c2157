import QtQuick
import QtQuick.Layouts
import Quillmoor

// The "PROCESSES" section of a telemetry tab: the first four rows of the process table,
// each with its figure. Rows follow the table in place, so a row whose process is still
// listed keeps its delegate (and an open insight) across samples.
ColumnLayout {
    id: root
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    property bool showFullProcessPath: false
    property bool advancedMode: false
    property string help
    property string headerSuffix
    // Which figure each row shows: "cpu", "memory", or "" where the kernel keeps none
    // that this user may read.
    property string figure: ""
    readonly property int shownRows: 4
    spacing: 4

    SectionHeader {
        objectName: "processesHeader"
        text: "PROCESSES" + (root.headerSuffix.length ? " " + root.headerSuffix : "")
    }
    Repeater {
        objectName: "processRows"
        model: Services.topProcesses
        ProcessRow {
            required property int index
            required property var model   // for its id: QML keeps `id` for itself
            required property string fullPath
            required property string icon
            required property bool isSuspended
            required property double cpuUsage
            required property double memoryBytes
            required property string name
            objectName: "processRow"
            visible: index < root.shownRows
            Layout.fillWidth: true
            processName: name
            image: icon
            label: root.showFullProcessPath && fullPath.length ? fullPath : name
            value: root.figure === "cpu" ? Format.percent(cpuUsage, 1)
                 : root.figure === "memory" ? Format.bytesAsGB(memoryBytes) : ""
            suspended: isSuspended
            canToggleSuspend: root.processMonitor !== null
            advancedMode: root.advancedMode
            help: root.help
            color: root.theme ? root.theme.accentColor : "#0a84ff"
            onToggleSuspend: root.processMonitor.toggleSuspend(model.id)
        }
    }
}
