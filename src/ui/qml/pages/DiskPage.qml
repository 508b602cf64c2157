import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The disk page: the junk sweep, the caches of the current persona's tools, and the health
// of the drive under the home folder. Every deletion asks once, naming the folder and size,
// and each button shows its running label until the service says the work is done.
DashboardPage {
    id: page
    heading: "Storage Management & Junk Cleaner"
    tipsTitle: "Active Disk Optimization Tips"
    tips: [
        "Empty the Trash regularly; files there still take space on the home volume.",
        "Package-manager caches (npm, pip, Cargo, Gradle) rebuild on the next install; purge them before a release build, not during one.",
        "Shader caches are rebuilt by games on first launch; expect a short stutter after purging them.",
        "Keep at least 10% of an SSD free so its controller can level wear and keep write speed.",
        "A SMART status other than Healthy means: back up first, then investigate the drive."
    ]

    readonly property real bytesPerGB: 1073741824
    readonly property SystemStatsProvider stats: Services.stats
    readonly property BuildCacheService caches: Services.buildCaches
    readonly property DriveHealthMonitor health: Services.driveHealth
    readonly property string persona: Services.preferences ? Services.preferences.workspacePersona : ""
    readonly property var purging: caches ? caches.purging : []

    property bool junkScanned: false
    property bool junkCleaned: false
    property real junkFreedGB: 0
    property bool hfScanning: false
    property bool hfCleared: false
    property bool ollamaCleared: false

    function isPurging(key) { return page.purging.indexOf(key) >= 0 }

    Component.onCompleted: if (health) health.refresh()

    Connections {
        target: page.stats
        function onJunkScanFinished() { page.junkScanned = true; page.junkCleaned = false }
        function onJunkCleanFinished(freedGB) { page.junkCleaned = true; page.junkFreedGB = freedGB }
        function onHuggingFaceCacheSizeMeasured() { page.hfScanning = false }
        function onHuggingFaceCachePurged(freedGB) { page.hfCleared = true }
    }
    Connections {
        target: page.caches
        function onPurgeFinished(keys) { if (keys.indexOf("ollama") >= 0) page.ollamaCleared = true }
    }

    ConfirmDeleteDialog { id: confirm }

    // Space presses a button already; Enter does the same here.
    component PageButton: RunningButton {
        Keys.onReturnPressed: if (enabled) clicked()
        Keys.onEnterPressed: if (enabled) clicked()
    }

    // ---- Junk --------------------------------------------------------------------------
    Card {
        objectName: "junkCard"
        Layout.fillWidth: true
        title: "System Junk & Cache Sweep"
        symbol: "sparkles"
        Text {
            Layout.fillWidth: true
            text: "Scans the Trash, the thumbnail cache, your week-old files in /tmp and your crash reports."
            color: page.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        RowLayout {
            spacing: 10
            PageButton {
                objectName: "junkScanButton"
                text: "Scan Junk"
                runningText: "Scanning System..."
                running: page.stats ? page.stats.isScanningJunk : false
                enabled: page.stats !== null && !running && !(page.stats && page.stats.isCleaningJunk)
                onClicked: page.stats.scanJunk()
            }
            PageButton {
                objectName: "junkCleanButton"
                visible: page.junkScanned
                text: "Clean " + Format.gb(page.stats ? page.stats.junkFoundInGB : 0, 2)
                runningText: "Sweeping Cache Files..."
                symbol: "sparkles"
                running: page.stats ? page.stats.isCleaningJunk : false
                enabled: !running && page.stats !== null && page.stats.junkFoundInGB > 0 && !page.stats.isScanningJunk
                onClicked: confirm.ask("the Trash, thumbnails, old /tmp files and crash reports",
                                       page.stats.junkFoundInGB * page.bytesPerGB, () => page.stats.cleanJunkFiles())
            }
        }
        Text {
            objectName: "junkSuccess"
            Layout.fillWidth: true
            visible: page.junkCleaned
            text: "Successfully purged system junk and cache files! Reclaimed " + Format.gb(page.junkFreedGB, 2) + "."
            color: "#34c759"
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }

    // ---- AI Engineer -------------------------------------------------------------------
    Card {
        objectName: "huggingFaceCard"
        Layout.fillWidth: true
        visible: page.persona === "AI Engineer"
        title: "Hugging Face Model Cache Sweeper"
        symbol: "cpu"
        CacheTagBadge {
            text: page.hfCleared ? "Cleared" : "AI Local Hub"
            cleaned: page.hfCleared
        }
        Text {
            Layout.fillWidth: true
            text: "Scans and purges cached model weights in " + Format.homeRelative(page.caches ? page.caches.huggingFaceHubPath : "~/.cache/huggingface/hub") + " to recover disk space."
            color: page.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        RowLayout {
            spacing: 10
            PageButton {
                objectName: "hfScanButton"
                text: "Scan HF Cache"
                runningText: "Analyzing Model Hub..."
                running: page.hfScanning
                enabled: page.stats !== null && !running
                onClicked: { page.hfScanning = true; page.stats.refreshHuggingFaceCacheSize() }
            }
            PageButton {
                objectName: "hfPurgeButton"
                readonly property real gb: page.stats ? page.stats.huggingFaceCacheSizeInGB : 0
                text: "Purge " + Format.gb(gb, 2) + " of Models"
                runningText: "Erasing Heavy Model Weights..."
                running: page.stats ? page.stats.isPurgingHuggingFaceCache : false
                enabled: !running && page.stats !== null && page.caches !== null && gb > 0
                onClicked: confirm.ask(page.caches.huggingFaceHubPath, gb * page.bytesPerGB,
                                       () => page.stats.purgeHuggingFaceCache())
            }
        }
        Text {
            objectName: "hfSuccess"
            Layout.fillWidth: true
            visible: page.hfCleared
            text: "Hugging Face model cache cleared successfully!"
            color: "#34c759"
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }
    Card {
        objectName: "ollamaCard"
        Layout.fillWidth: true
        visible: page.persona === "AI Engineer"
        title: "Ollama Model Cache Sweeper"
        symbol: "shippingbox"
        CacheTagBadge {
            text: page.ollamaCleared ? "Cleared" : "Ollama Local"
            cleaned: page.ollamaCleared
        }
        Text {
            Layout.fillWidth: true
            text: "Purges downloaded model weights from " + Format.homeRelative(page.caches ? page.caches.ollamaModelsPath : "~/.ollama/models") + " to free storage; pull a model again to use it."
            color: page.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        PageButton {
            objectName: "ollamaPurgeButton"
            readonly property real gb: page.caches ? page.caches.ollamaCacheSizeGB : 0
            text: "Purge " + Format.gb(gb, 2)
            runningText: "Purging..."
            running: page.isPurging("ollama")
            enabled: !running && page.caches !== null && gb > 0
            onClicked: confirm.ask(page.caches.ollamaModelsPath, gb * page.bytesPerGB,
                                   () => page.caches.purgeCache("ollama"))
        }
    }

    // ---- Developer, creator and gamer caches ------------------------------------------
    component CacheGroup: Card {
        id: groupCard
        // The rows of the cache table this card lists.
        property string cacheGroup
        property string purgeAllText
        property string noun
        Layout.fillWidth: true

        readonly property var rows: page.caches ? page.caches.cacheRows.filter(r => r.group === groupCard.cacheGroup) : []
        readonly property var purgeable: rows.filter(r => r.onThisPlatform && r.sizeBytes > 0)
        readonly property real purgeableBytes: purgeable.reduce((sum, r) => sum + r.sizeBytes, 0)
        property var startedKeys: []
        readonly property bool purgingAll: startedKeys.some(k => page.isPurging(k))

        Repeater {
            model: Services.cacheRows
            delegate: CacheRow {
                required property string key
                required property string group
                required property real sizeBytes
                required location
                required property bool onThisPlatform
                required title
                Layout.fillWidth: true
                visible: group === groupCard.cacheGroup
                bytes: sizeBytes
                available: onThisPlatform
                unavailableText: "macOS only"
                running: page.isPurging(key)
                onPurge: confirm.ask(location, sizeBytes, () => page.caches.purgeCacheRow(key))
            }
        }
        PageButton {
            objectName: "purgeAllButton"
            Layout.topMargin: 4
            text: groupCard.purgeAllText
            runningText: "Purging..."
            running: groupCard.purgingAll
            enabled: !running && page.caches !== null && groupCard.purgeable.length > 0
            onClicked: {
                const rows = groupCard.purgeable
                const keys = rows.map(r => r.key)
                const where = rows.length === 1 ? rows[0].location
                                                : rows.length + " " + groupCard.noun + " caches"
                confirm.ask(where, groupCard.purgeableBytes, () => {
                    groupCard.startedKeys = keys
                    page.caches.purgeRows(keys)
                })
            }
        }
    }

    CacheGroup {
        objectName: "developerCard"
        visible: page.persona === "Software Developer"
        title: "Developer Workspaces Cache Sweeper"
        symbol: "terminal.fill"
        cacheGroup: "developer"
        noun: "developer"
        purgeAllText: "Purge All Developer Caches"
    }
    CacheGroup {
        objectName: "creatorCard"
        visible: page.persona === "Content Creator"
        title: "Creative Render Cache Sweeper"
        symbol: "paintbrush"
        cacheGroup: "creative"
        noun: "render"
        purgeAllText: "Purge All Render Caches"
    }
    CacheGroup {
        objectName: "gamerCard"
        visible: page.persona === "Gamer"
        title: "Gamer Cache Cleaner"
        symbol: "gamecontroller.fill"
        cacheGroup: "gaming"
        noun: "shader"
        purgeAllText: "Purge All Shader Caches"
    }

    // ---- Drive health ------------------------------------------------------------------
    Card {
        id: wearCard
        objectName: "wearCard"
        Layout.fillWidth: true
        title: "SSD Wear Level (TBW)"
        symbol: "externaldrive.fill"
        readonly property bool known: page.health !== null && page.health.available
        readonly property string unavailable: "unavailable"

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Text {
                objectName: "volumeName"
                Layout.fillWidth: true
                text: page.health && page.health.volumeName.length > 0 ? page.health.volumeName : "Home volume"
                color: page.theme.textColor
                font.pixelSize: 14
                font.weight: Font.DemiBold
                elide: Text.ElideMiddle
            }
            Text {
                objectName: "diskUsedText"
                text: page.health && page.health.usageMeasured ? Format.percent(page.health.usedPercent) + " Used" : "Use: unavailable"
                color: page.theme.textColor
                font.pixelSize: 13
            }
        }
        Rectangle {
            objectName: "usageBar"
            readonly property real fraction: page.health ? Math.max(0, Math.min(1, page.health.usedPercent / 100)) : 0
            Layout.fillWidth: true
            implicitHeight: 8
            radius: 4
            color: page.theme.dividerColor
            Accessible.role: Accessible.ProgressBar
            Accessible.name: "Home volume use " + Format.percent(fraction * 100)
            Rectangle {
                width: parent.width * parent.fraction
                height: parent.height
                radius: parent.radius
                color: parent.fraction > 0.9 ? "#ff3b30" : page.theme.accentColor
            }
        }
        Text {
            objectName: "writtenText"
            text: page.health && page.health.bytesWrittenMeasured
                  ? Format.fixed(page.health.bytesWritten / 1e12, 1) + " TB Written"
                  : "TB Written: unavailable"
            color: page.theme.textColor
            font.pixelSize: 12
        }
        Text {
            objectName: "lifeText"
            text: page.health && page.health.wearMeasured
                  ? "Est. Life: " + Format.percent(Math.max(0, 100 - page.health.wearPercent))
                  : "Est. Life: unavailable"
            color: page.theme.textColor
            font.pixelSize: 12
        }
        Text {
            objectName: "smartText"
            text: "SMART Status: " + (page.health ? page.health.smartStatus : "unavailable")
            color: page.health && page.health.smartFailing ? "#ff3b30" : page.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
        }
        Text {
            objectName: "healthNote"
            Layout.fillWidth: true
            text: !wearCard.known
                  ? "The drive under your home folder reports no health data to udisks, so wear and writes are not shown."
                  : page.health.smartFailing ? "The drive reports a failure. Back up your data now."
                  : page.health.wearMeasured ? (page.health.driveModel.length > 0 ? page.health.driveModel : "The drive")
                                               + " has used " + Format.percent(page.health.wearPercent) + " of its rated endurance."
                  : (page.health.driveModel.length > 0 ? page.health.driveModel : "The drive") + " reports no wear figure."
            color: page.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        PageButton {
            objectName: "checkDriveButton"
            text: "Check Drive"
            runningText: "Asking udisks..."
            running: page.health ? page.health.refreshing : false
            enabled: page.health !== null && !running
            onClicked: page.health.refresh()
        }
    }
}
