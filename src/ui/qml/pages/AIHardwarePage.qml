import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's AI hardware page: the neural engine, memory as the models see it, and
// the GPU by its real name and compute stack, with the load and memory its driver reports,
// and who holds that memory.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property var machine: Services.machine
    readonly property string gpuName: machine.gpuName || ""
    readonly property string computeStack: machine.gpuComputeStack || ""
    readonly property bool loadMeasured: stats.gpuUsageMeasured
    readonly property bool coresMeasured: stats.gpuCoreCountMeasured === true

    heading: "AI Hardware & Neural Engine"
    caption: "The accelerators local models run on, as the kernel and their drivers report them."
    tipsTitle: "Hardware Tips for Local Models"
    tips: [
        "A model that fits entirely in the GPU's memory runs many times faster than one split with the processor: pick a quantisation that fits.",
        "Close browsers and editors with GPU acceleration before loading a large model; they hold graphics memory too.",
        "On machines without a GPU compute stack, smaller models at 4-bit quantisation keep the processor responsive.",
        "Watch the memory bar: once the system and the models together reach the total, the kernel starts swapping and every token slows down."
    ]

    SandboxNote { Layout.fillWidth: true }

    NeuralEngineCard { Layout.fillWidth: true; showRing: true }
    UnifiedVramCard { Layout.fillWidth: true }

    Card {
        objectName: "gpuCard"
        Layout.fillWidth: true
        title: "Graphics Cores (GPU)"
        symbol: "display"
        tint: "#ff9f0a"
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "gpuName"
                    Layout.fillWidth: true
                    text: page.gpuName.length > 0 ? page.gpuName : "No GPU found"
                    color: page.theme.textColor
                    font.pixelSize: 14
                    font.weight: Font.DemiBold
                    wrapMode: Text.WordWrap
                }
                Text {
                    objectName: "computeStack"
                    Layout.fillWidth: true
                    text: page.computeStack.length > 0 ? page.computeStack + " Hardware Acceleration"
                                                       : "No GPU compute stack (CUDA, ROCm or Vulkan) found"
                    color: page.theme.secondaryTextColor
                    font.pixelSize: 11
                    wrapMode: Text.WordWrap
                }
            }
            Text {
                objectName: "gpuCores"
                visible: page.coresMeasured
                text: page.stats.gpuCoreCount + " Cores"
                color: page.theme.textColor
                font.pixelSize: 13
                font.weight: Font.DemiBold
                font.family: "monospace"
            }
        }
        RowLayout {
            Layout.fillWidth: true
            visible: page.gpuName.length > 0
            Text {
                Layout.fillWidth: true
                text: page.loadMeasured ? "Load (driver)" : "Load, estimated from the loaded models"
                color: page.theme.secondaryTextColor
                font.pixelSize: 11
                elide: Text.ElideRight
            }
            Text {
                objectName: "gpuLoad"
                text: Format.estimate(Format.percent(page.stats.gpuUsage), page.loadMeasured)
                color: page.theme.textColor
                font.pixelSize: 11
                font.weight: Font.DemiBold
                font.family: "monospace"
            }
        }
        Bar {
            Layout.fillWidth: true
            visible: page.gpuName.length > 0
            fraction: page.stats.gpuUsage / 100
            tint: "#ff9f0a"
            opacity: page.loadMeasured ? 1 : 0.55
        }
        Text {
            objectName: "gpuMemory"
            Layout.fillWidth: true
            visible: page.stats.gpuMemoryTotal > 0
            text: "Memory " + Format.fixed(page.stats.gpuMemoryUsed) + " of " + Format.gb(page.stats.gpuMemoryTotal) + " in use"
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
        }
    }

    GpuProcessesCard { Layout.fillWidth: true }
}
