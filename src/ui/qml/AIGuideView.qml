import QtQuick
import QtQuick.Layouts
import Quillmoor

// The help guide: what each part of Quillmoor does on this Linux machine and how, in nine
// sections. The texts describe the mechanisms the program really uses, so a user can tell
// what a button will touch before pressing it.
ColumnLayout {
    id: root
    readonly property ThemeManager theme: Services.theme
    spacing: 12

    readonly property var sections: [
        { title: "1. Local AI Monitor & Telemetry", symbol: "cpu", tint: "#bf5af2",
          text: "Quillmoor asks the local Ollama server on 127.0.0.1:11434 every two seconds which models are loaded, how much of each sits in GPU memory and when it will be unloaded. It finds vector databases (Chroma, Qdrant, Weaviate) among your running Docker containers, the listening development ports from the kernel's socket tables, and large model files in the Ollama and Hugging Face caches. Nothing is sent off the machine." },
        { title: "2. Process Freezing & Unfreezing (Ollama Unfreeze)", symbol: "snowflake", tint: "#64d2ff",
          heading: "💡 How to Unfreeze suspended processes:",
          text: "The snowflake button on a process row sends it SIGSTOP: the kernel stops scheduling it, it keeps its memory and open files, and it uses no CPU. Press the snowflake again to send SIGCONT and it carries on where it stopped. Frozen processes stay listed at the top of the CPU tab so they are not forgotten; Quillmoor does not thaw them when it quits, so resume them first (or run kill -CONT <pid>). Init and Quillmoor itself are never frozen." },
        { title: "3. Port & API Gateway Sentinel", symbol: "network.badge.shield.half.filled", tint: "#30d158",
          text: "The API Sentinel lists every TCP port listening on this machine, read from /proc/net/tcp and tcp6 and matched to its owner through the owner's open sockets, and measures a loopback connect to each one every two seconds. A port left open by a stray dev server can be closed by ending its owner. The optional relay on port 11430 forwards AI clients to Ollama and answers with a JSON error when Ollama is down." },
        { title: "4. Developer Workspace Purges", symbol: "hammer.fill", tint: "#ff9f0a",
          text: "Every five seconds the cache pages size the build and package caches Linux tools keep under your home: npm, Yarn and pnpm, Cargo, Go, pip, Gradle and Maven, ccache, Bazel, PyTorch Hub, the Mesa, NVIDIA and Steam shader caches and the DaVinci Resolve render cache. A purge always asks first, naming the folder and its size, and removes only that folder; each tool rebuilds what it needs on its next run." },
        { title: "5. Forensic Telemetry & Advanced Mode", symbol: "magnifyingglass.radar", tint: "#5e5ce6",
          text: "Advanced Mode (Settings) adds the deeper figures to the telemetry tabs: fan speeds, per-sensor temperatures, swap activity, detailed network counters and each process's scheduling priority. Figures the hardware does not report are marked ≈ as estimates rather than shown as measured." },
        { title: "6. Personalization & Dynamic Themes", symbol: "paintpalette.fill", tint: "#ff375f",
          text: "The Settings page switches between the Standard, Cyberpunk, Nordic, Ink and Light themes and between the four workspace personas, which choose the tools in the sidebar. Both choices are kept across restarts." },
        { title: "7. CPU Alert Thresholds & Alarm Sentinel", symbol: "gauge.badge.minus", tint: "#ff453a",
          text: "Set a CPU threshold in Settings and Quillmoor raises a desktop notification, \"High CPU Usage Alert\", when total CPU load goes above it, naming the load it saw. The popover's CPU tab then shows which processes are responsible." },
        { title: "8. Unified Memory Footprint & Active VRAM Shield", symbol: "memorychip", tint: "#0a84ff",
          text: "Memory pressure is the share of memory in use (kernel, application and swapped-out pages, from /proc/meminfo), shown beside cached and swapped memory and what loaded models hold. The memory purge asks the kernel, through a polkit-authorised helper, to drop clean page caches and compact memory; it frees cache, never data a program still needs. Ejecting a model returns its GPU memory at once." },
        { title: "9. Auto-Suspend on Compile & Battery Shield", symbol: "battery.100.bolt", tint: "#ffd60a",
          text: "With Auto-Suspend on, Quillmoor freezes Ollama's processes with SIGSTOP while a compiler (clang, make, cmake, swiftc) runs and resumes them with SIGCONT when it ends. Battery Shield, when the laptop leaves mains power, unloads loaded models and pauses vector-database containers. Presets may also hold a logind idle-sleep inhibitor and select a power-profiles-daemon profile; switching back to the default preset releases both." }
    ]

    Card {
        Layout.fillWidth: true
        RowLayout {
            Layout.fillWidth: true
            spacing: 14
            Rectangle {
                width: 44; height: 44; radius: 11
                color: root.theme.accentColor
                SymbolImage { anchors.centerIn: parent; symbol: "bolt.shield.fill"; side: 26; tint: "white" }
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "guideTitle"
                    Layout.fillWidth: true
                    text: "Quillmoor Operations Center"
                    color: root.theme.textColor
                    font.pixelSize: 18
                    font.weight: Font.Bold
                    wrapMode: Text.WordWrap
                }
                Text {
                    objectName: "guideSubtitle"
                    Layout.fillWidth: true
                    text: "Advanced Local AI & Forensic Performance Companion"
                    color: root.theme.secondaryTextColor
                    font.pixelSize: 12
                    wrapMode: Text.WordWrap
                }
            }
        }
    }

    Repeater {
        model: root.sections
        Card {
            id: section
            required property var modelData
            objectName: "guideSection"
            Layout.fillWidth: true
            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                SymbolImage {
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 1
                    symbol: section.modelData.symbol
                    tint: root.theme.isLight ? Qt.darker(section.modelData.tint, 1.5) : section.modelData.tint
                    side: 16
                }
                Text {
                    objectName: "guideSectionTitle"
                    Layout.fillWidth: true
                    text: section.modelData.title
                    color: root.theme.textColor
                    font.pixelSize: 14
                    font.weight: Font.DemiBold
                    wrapMode: Text.WordWrap
                }
            }
            Text {
                Layout.fillWidth: true
                visible: section.modelData.heading !== undefined
                text: section.modelData.heading || ""
                color: root.theme.textColor
                font.pixelSize: 12
                font.weight: Font.Bold
                wrapMode: Text.WordWrap
            }
            Text {
                objectName: "guideSectionText"
                Layout.fillWidth: true
                text: section.modelData.text
                color: root.theme.secondaryTextColor
                font.pixelSize: 12
                wrapMode: Text.WordWrap
            }
        }
    }
}
