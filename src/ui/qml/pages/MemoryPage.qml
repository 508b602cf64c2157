import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's memory page ("Memory", "VRAM Shield"): the breakdown and pressure, the
// kernel's own memory, paging and swap as the kernel counts them, the processes holding
// the most memory, and the purge.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property Preferences preferences: Services.preferences

    // What the last purge came to: empty until one finishes.
    property string purgeResult
    property bool purgeSucceeded: false

    heading: "Memory Management & Optimization"
    caption: "Figures from the kernel's own counters: memory every second, paging every five."
    tipsTitle: "Active Memory Optimization Tips"
    tips: [
        "Close browser tabs and editors you are not using: each keeps its pages resident even when idle.",
        "Steady page-outs with rising swap mean the working set no longer fits: stop a heavy app before purging.",
        "Unload local models you are not querying; a loaded model holds its whole weight file in memory.",
        "Purging drops clean caches only; they fill again as files are read, which is normal."
    ]

    // The busiest processes, largest resident memory first.
    readonly property var heaviest: {
        const rows = []
        const all = processMonitor.topProcesses
        for (let i = 0; i < all.length; ++i)
            rows.push(all[i])
        rows.sort((a, b) => b.memoryBytes - a.memoryBytes)
        return rows.slice(0, 5)
    }

    Connections {
        target: page.stats
        function onMemoryOptimizationFinished(succeeded) {
            page.purgeSucceeded = succeeded
            page.purgeResult = succeeded
                ? "Successfully optimized memory! Freed " + Format.gb(page.stats.optimizedMemoryReleased, 2)
                  + " of inactive RAM."
                : page.stats.memoryOptimizationError
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        MemoryCard {
            objectName: "appMemoryCard"
            Layout.fillWidth: true
            title: "App Memory"
            value: Format.gb(page.stats.memoryApp, 2)
            color: "#0a84ff"
        }
        MemoryCard {
            objectName: "wiredCard"
            Layout.fillWidth: true
            title: "Wired"
            value: Format.gb(page.stats.memoryWired, 2)
            color: "#ff9f0a"
        }
        MemoryCard {
            objectName: "compressedCard"
            Layout.fillWidth: true
            title: "Compressed"
            value: Format.gb(page.stats.memoryCompressed, 2)
            color: "#bf5af2"
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Memory Pressure"
        symbol: "memorychip"
        RowLayout {
            Layout.fillWidth: true
            Text {
                objectName: "pressureValue"
                text: Format.percent(page.stats.memoryPressure)
                color: page.stats.memoryPressure > 85 ? "#ff453a" : page.theme.textColor
                font.pixelSize: 22
                font.weight: Font.Bold
            }
            Text {
                Layout.fillWidth: true
                text: Format.gb(page.stats.memoryUsed) + " of " + Format.gb(page.stats.memoryTotal) + " in use"
                color: page.theme.secondaryTextColor
                font.pixelSize: 12
                elide: Text.ElideRight
            }
        }
        HistoryChart {
            objectName: "pressureChart"
            Layout.fillWidth: true
            visible: page.shown
            values: page.stats.memoryPressureHistory
            color: page.stats.memoryPressure > 85 ? "#ff453a" : "#bf5af2"
            label: "Memory Pressure"
            maximum: 100
            unit: "%"
            spanText: "\u2212" + Math.max(page.stats.memoryPressureHistory.length - 1, 0) + " s"
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 12
        MemoryCard {
            objectName: "kernelCard"
            Layout.fillWidth: true
            title: "KERNEL"
            value: Format.gb(page.stats.memoryKernel, 2)
            caption: "Kernel Tasks"
            color: "#ff9f0a"
        }
        MemoryCard {
            objectName: "pageOutsCard"
            Layout.fillWidth: true
            title: "PAGE OUTS"
            value: page.stats.pagingMeasured
                   ? Format.fixed(page.stats.pageInRate) + " / " + Format.kbPerSecond(page.stats.pageOutRate)
                   : "Not measured"
            caption: page.stats.pagingMeasured ? "Page-ins/outs" : "Page-ins/outs: no readable counters"
            color: "#64d2ff"
        }
        MemoryCard {
            objectName: "swapCard"
            Layout.fillWidth: true
            title: "SWAP"
            value: Format.gb(page.stats.memorySwap, 2)
            caption: page.stats.memorySwapTotal > 0 ? "Swap Used of " + Format.gb(page.stats.memorySwapTotal)
                                                     : "Swap Used (no swap set up)"
            color: page.stats.memorySwap * 0.25 >= 1 ? "#ff453a" : "#30d158"
        }
    }

    Card {
        objectName: "pagingCard"
        Layout.fillWidth: true
        title: "Paging Since Boot"
        symbol: "arrow.down"
        visible: page.stats.pagingMeasured
        SensorRow {
            objectName: "pagedInRow"
            Layout.fillWidth: true
            title: "Paged in"
            subtitle: "Read into memory from disk, files and swap alike"
            value: Format.size(page.stats.pagedInBytes)
        }
        SensorRow {
            objectName: "pagedOutRow"
            Layout.fillWidth: true
            title: "Paged out"
            subtitle: "Written from memory to disk"
            value: Format.size(page.stats.pagedOutBytes)
        }
        SensorRow {
            objectName: "swappedRow"
            Layout.fillWidth: true
            visible: page.stats.swapPagingMeasured
            title: "Swapped in / out"
            subtitle: Format.kbPerSecond(page.stats.swapInRate) + " / " + Format.kbPerSecond(page.stats.swapOutRate) + " now"
            value: Format.size(page.stats.swappedInBytes) + " / " + Format.size(page.stats.swappedOutBytes)
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Memory Intensive Processes"
        symbol: "list.bullet"
        Text {
            Layout.fillWidth: true
            text: "Resident memory of the busiest processes, largest first."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        Repeater {
            model: page.heaviest
            ProcessRow {
                required property var modelData
                objectName: "memoryProcessRow"
                Layout.fillWidth: true
                processName: modelData.name
                image: modelData.icon
                label: page.preferences.showFullProcessPath && modelData.fullPath.length ? modelData.fullPath : modelData.name
                value: Format.bytesAsGB(modelData.memoryBytes, 2)
                suspended: modelData.isSuspended
                canToggleSuspend: true
                advancedMode: page.preferences.advancedMode
                color: page.theme.accentColor
                onToggleSuspend: page.processMonitor.toggleSuspend(modelData.id)
            }
        }
        Text {
            visible: page.heaviest.length === 0
            text: "No process sampled yet."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Deep Memory Cleaner"
        symbol: "sparkles"
        Text {
            Layout.fillWidth: true
            text: "Releases inactive memory, cleans swap allocations, and optimizes RAM pressure."
            color: page.theme.textColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        RunningButton {
            objectName: "purgeButton"
            text: "Purge RAM"
            runningText: "Optimizing..."
            symbol: "memorychip"
            running: page.stats.isOptimizingMemory
            onClicked: {
                page.purgeResult = ""
                page.stats.optimizeMemory()
            }
        }
        Text {
            objectName: "purgeResult"
            Layout.fillWidth: true
            visible: text.length > 0
            text: page.purgeResult
            color: page.purgeSucceeded ? "#30d158" : "#ff453a"
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }
}
