import QtQuick
import QtQuick.Layouts
import Quillmoor

// The running processes that are local AI or ML back ends (Python and conda environments,
// Ollama, llama.cpp, PyTorch), each with its CPU load, the GPU memory its driver says it
// holds, and a freeze/resume button.
Card {
    id: root
    // The AI tab shows a sample row while the sandbox switch is on and nothing matches; the
    // sample says it is one, and without the sandbox the card tells the plain truth.
    property bool sampleWhenEmpty: false
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property var rows: Services.aiProcesses
    readonly property int count: rows ? rows.count : 0
    readonly property bool showSample: sampleWhenEmpty && count === 0 && Services.localAI !== null && Services.localAI.demoMode

    // Who holds the GPU is read only while a card shows it (ProcessMonitor.watchGpu).
    property ProcessMonitor gpuWatched: null
    Component.onCompleted: {
        gpuWatched = processMonitor
        if (gpuWatched)
            gpuWatched.watchGpu(true)
    }
    Component.onDestruction: if (gpuWatched) gpuWatched.watchGpu(false)

    objectName: "aiProcessesCard"
    title: "Active AI / ML Processes"
    symbol: "list.bullet.rectangle"
    tint: "#30d158"

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        SymbolImage { symbol: "info.circle.fill"; tint: root.theme.secondaryTextColor; side: 12 }
        Text {
            objectName: "backendCount"
            Layout.fillWidth: true
            text: root.count + " backends detected"
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            elide: Text.ElideRight
        }
    }

    Repeater {
        model: root.rows
        delegate: ProcessRow {
            required property var model   // for its id: QML keeps `id` for itself
            required property string fullPath
            required property string icon
            required property bool isSuspended
            required property double cpuUsage
            required property string name
            required property bool gpuMemoryReported
            required property double gpuMemoryBytes
            objectName: "aiProcessRow"
            Layout.fillWidth: true
            symbol: "cpu.fill"
            processName: name
            image: icon
            label: Services.preferences.showFullProcessPath && fullPath.length ? fullPath : name
            // The GPU's memory, where the driver accounts it to this process.
            value: Format.percent(cpuUsage, 1) + " CPU"
                   + (gpuMemoryReported && gpuMemoryBytes > 0 ? " · " + Format.size(gpuMemoryBytes) + " GPU" : "")
            suspended: isSuspended
            canToggleSuspend: root.processMonitor !== null
            advancedMode: Services.preferences.advancedMode
            color: "#30d158"
            onToggleSuspend: root.processMonitor.toggleSuspend(model.id)
        }
    }

    RowLayout {
        objectName: "aiProcessesEmpty"
        Layout.fillWidth: true
        visible: root.count === 0
        spacing: 8
        SymbolImage { symbol: root.showSample ? "shippingbox.fill" : "cpu.fill"; tint: root.theme.secondaryTextColor; side: 16 }
        Text {
            objectName: "aiProcessesEmptyText"
            Layout.fillWidth: true
            text: root.showSample ? "python3 (miniconda-pytorch)" : "No running AI/ML backends detected"
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            elide: Text.ElideRight
        }
        Badge { visible: root.showSample; text: "SAMPLE"; tint: "#ff9f0a" }
        Text {
            text: root.showSample ? "22% GPU" : Format.percent(0, 1) + " CPU"
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            font.family: "monospace"
        }
    }
}
