import QtQuick
import QtQuick.Layouts
import Quillmoor

// Who holds the GPU's memory, as its driver accounts it per process (NVML on NVIDIA, the
// DRM client records on AMD and Intel), largest first; and the Ollama runners' figure set
// beside what Ollama itself says its loaded models take on the GPU.
Card {
    id: root
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property var rows: Services.gpuProcesses
    readonly property int count: rows ? rows.count : 0
    readonly property bool available: processMonitor !== null && processMonitor.gpuFiguresAvailable
    readonly property SystemStatsProvider stats: Services.stats
    // A row's bar is its share of the card's memory, where the driver gives the total.
    readonly property real totalBytes: stats !== null && stats.gpuMemoryTotal > 0 ? stats.gpuMemoryTotal * 1073741824 : 0

    // What Ollama's /api/ps says its models hold on the GPU.
    readonly property LocalAIService localAI: Services.localAI
    readonly property real claimedBytes: {
        let sum = 0
        if (localAI !== null)
            for (const model of localAI.activeModels)
                sum += model.sizeVram
        return sum
    }
    readonly property bool runnerReported: processMonitor !== null && processMonitor.ollamaGpuMemoryReported
    readonly property real runnerBytes: runnerReported ? processMonitor.ollamaGpuMemoryBytes : 0
    // The driver counts more than the model: the runner's CUDA or ROCm context and its
    // library workspaces (a few hundred MB per process, before any weights), and Ollama's
    // figure is its own estimate of weights, KV cache and graph made at load time. Only a
    // gap beyond both, 768 MB or a tenth of the claim, says the two disagree.
    readonly property real margin: Math.max(768 * 1048576, 0.10 * claimedBytes)
    readonly property bool comparable: runnerReported || claimedBytes > 0
    readonly property bool disagree: comparable && Math.abs(runnerBytes - claimedBytes) > margin

    // With the sandbox on and no real holder, one sample row shows what a runner's row
    // looks like, badged as a sample: the listed models' claim, else the AI memory figure
    // the page's VRAM card shows.
    readonly property real sampleBytes: claimedBytes > 0 ? claimedBytes : stats !== null ? stats.aiVramUsed * 1073741824 : 0
    readonly property bool showSample: count === 0 && localAI !== null && localAI.demoMode && sampleBytes > 0

    // Who holds the GPU is read only while a card shows it (ProcessMonitor.watchGpu).
    property ProcessMonitor gpuWatched: null
    Component.onCompleted: {
        gpuWatched = processMonitor
        if (gpuWatched)
            gpuWatched.watchGpu(true)
    }
    Component.onDestruction: if (gpuWatched) gpuWatched.watchGpu(false)

    objectName: "gpuProcessesCard"
    title: "GPU Memory by Process"
    symbol: "memorychip"
    tint: "#ff9f0a"

    Text {
        objectName: "gpuProcessesEmpty"
        Layout.fillWidth: true
        visible: root.count === 0
        text: root.available ? "No process holds GPU memory now."
                             : "The GPU drivers here give no per-process memory figures (no NVIDIA management library, and no readable DRM client records), so who holds the GPU's memory cannot be shown."
        color: root.theme.secondaryTextColor
        font.pixelSize: 11
        wrapMode: Text.WordWrap
    }

    ColumnLayout {
        objectName: "gpuProcessSample"
        Layout.fillWidth: true
        visible: root.showSample
        spacing: 3
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            SymbolImage { symbol: "shippingbox.fill"; tint: root.theme.secondaryTextColor; side: 14 }
            Text {
                Layout.fillWidth: true
                text: "ollama (runner)"
                color: root.theme.secondaryTextColor
                font.pixelSize: 12
                elide: Text.ElideRight
            }
            Badge { text: "SAMPLE"; tint: "#ff9f0a" }
            Text {
                text: Format.size(root.sampleBytes)
                color: root.theme.secondaryTextColor
                font.pixelSize: 11
                font.weight: Font.DemiBold
                font.family: "monospace"
            }
        }
        Bar {
            Layout.fillWidth: true
            visible: root.totalBytes > 0
            fraction: root.sampleBytes / Math.max(root.totalBytes, 1)
            tint: "#ff9f0a"
            opacity: 0.55
        }
    }

    Repeater {
        model: root.rows
        delegate: ColumnLayout {
            id: row
            required property var model
            required property string name
            required property string fullPath
            required property string icon
            required property bool gpuMemoryReported
            required property double gpuMemoryBytes
            objectName: "gpuProcessRow"
            Layout.fillWidth: true
            spacing: 3

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Image {
                    visible: row.icon.length > 0
                    source: row.icon.length > 0 ? "image://appicon/" + encodeURIComponent(row.icon) : ""
                    sourceSize: Qt.size(16 * Screen.devicePixelRatio, 16 * Screen.devicePixelRatio)
                    fillMode: Image.PreserveAspectFit
                    Layout.preferredWidth: 16
                    Layout.preferredHeight: 16
                }
                SymbolImage { visible: row.icon.length === 0; symbol: "cpu.fill"; tint: "#ff9f0a"; side: 14 }
                Text {
                    objectName: "gpuProcessName"
                    Layout.fillWidth: true
                    text: Services.preferences.showFullProcessPath && row.fullPath.length ? row.fullPath : row.name
                    color: root.theme.textColor
                    font.pixelSize: 12
                    elide: Text.ElideMiddle
                }
                Text {
                    objectName: "gpuProcessMemory"
                    text: row.gpuMemoryReported ? Format.size(row.gpuMemoryBytes) : "not reported"
                    color: row.gpuMemoryReported ? root.theme.textColor : root.theme.secondaryTextColor
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
            }
            Bar {
                Layout.fillWidth: true
                visible: row.gpuMemoryReported && root.totalBytes > 0
                fraction: row.gpuMemoryBytes / Math.max(root.totalBytes, 1)
                tint: "#ff9f0a"
            }
            Accessible.role: Accessible.ListItem
            Accessible.name: row.name + ", " + (row.gpuMemoryReported ? Format.size(row.gpuMemoryBytes) : "not reported") + " of GPU memory"
        }
    }

    Rectangle {
        objectName: "ollamaComparison"
        Layout.fillWidth: true
        visible: root.available && root.comparable
        implicitHeight: comparison.implicitHeight + 12
        radius: 6
        color: root.disagree ? Qt.rgba(1, 0.62, 0.04, root.theme.isLight ? 0.16 : 0.2) : "transparent"
        border.width: root.disagree ? 1 : 0
        border.color: "#ff9f0a"
        ColumnLayout {
            id: comparison
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            anchors.margins: root.disagree ? 6 : 0
            spacing: 2
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                SymbolImage {
                    // At the first line's height: a wrapping line beside it once measured
                    // two lines tall, and a centred symbol sank onto the line below.
                    Layout.alignment: Qt.AlignTop
                    visible: root.disagree
                    symbol: "exclamationmark.triangle"
                    tint: "#ff9f0a"
                    side: 13
                }
                Text {
                    objectName: "ollamaFigures"
                    Layout.fillWidth: true
                    text: "Ollama runner (driver) " + (root.runnerReported ? Format.size(root.runnerBytes) : "none")
                          + " · Ollama says " + Format.size(root.claimedBytes)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    wrapMode: Text.WordWrap
                }
            }
            Text {
                objectName: "ollamaDisagreement"
                Layout.fillWidth: true
                visible: root.disagree
                text: root.runnerBytes > root.claimedBytes
                      ? "The runner holds " + Format.size(root.runnerBytes - root.claimedBytes) + " more than Ollama reports: another model or a leak, beyond the runtime's own share."
                      : "The runner holds " + Format.size(root.claimedBytes - root.runnerBytes) + " less than Ollama reports: part of the model may sit in system memory."
                color: root.theme.secondaryTextColor
                font.pixelSize: 10
                wrapMode: Text.WordWrap
            }
        }
    }
}
