import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The co-pilot page's body: the workspace audit (one card per finding, shown only while its
// condition holds), the health report and the question box. Figures are the services' live
// ones; the sample figures appear only while the demo switch is on.
ColumnLayout {
    id: root
    readonly property ThemeManager theme: Services.theme
    readonly property SystemStatsProvider stats: Services.stats
    readonly property LocalAIService localAI: Services.localAI
    readonly property BuildCacheService caches: Services.buildCaches
    readonly property AIService aiService: Services.aiService
    readonly property bool demo: localAI ? localAI.demoMode : false
    readonly property real bytesPerGiB: 1073741824

    // ---- What the cards read ----------------------------------------------------------
    readonly property real derivedDataBytes: caches ? caches.derivedDataSize : 0
    readonly property string derivedDataFolder: {
        if (caches)
            for (const row of caches.cacheRows)
                if (row.key === "derivedDataSize")
                    return row.location
        return ""
    }
    readonly property bool pruning: caches ? caches.purging.indexOf("derivedDataSize") >= 0 : false
    // Shown above 1 GiB, and at exactly nothing (a folder that was never there or was just
    // pruned); a few hundred megabytes are not worth a warning.
    readonly property bool showBuildCache: caches !== null && (derivedDataBytes === 0 || derivedDataBytes > bytesPerGiB)

    readonly property var runningContainers: {
        const names = []
        if (localAI)
            for (const db of localAI.activeVectorDBs)
                if (db.status === "Running")
                    names.push(db.name)
        return names
    }
    readonly property bool showContainers: localAI !== null && (runningContainers.length > 0 || demo)

    readonly property real temperature: stats ? stats.socTemperature : 0
    readonly property bool fansForced: stats ? stats.forceTurboCooling : false
    // Hot enough that sustained load will throttle (the co-pilot's own line for it is 75 °C).
    readonly property bool showThermal: stats !== null && (fansForced || temperature > 75 || (demo && temperature <= 0))

    readonly property string firstModel: {
        if (localAI)
            for (const model of localAI.activeModels)
                return model.name
        return ""
    }
    readonly property string modelDetail: {
        let count = 0, size = 0, vram = 0
        if (localAI)
            for (const model of localAI.activeModels) {
                ++count
                size += model.size
                vram += model.sizeVram
            }
        if (count === 0)
            return ""
        return count + (count === 1 ? " model" : " models") + " loaded, " + Format.bytesAsGB(size, 1) + ", "
               + (vram > 0 ? Format.bytesAsGB(vram, 1) + " of it in GPU memory" : "none of it in GPU memory")
    }
    readonly property bool showModel: localAI !== null && (firstModel.length > 0 || demo)

    spacing: 14

    ConfirmDeleteDialog { id: confirm }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 3
        Text {
            objectName: "copilotTitle"
            Layout.fillWidth: true
            text: "AI Co-Pilot & Diagnostics"
            color: root.theme.textColor
            font.pixelSize: 18
            font.weight: Font.Bold
            wrapMode: Text.WordWrap
        }
        Text {
            Layout.fillWidth: true
            text: "Real-time telemetry insights and proactive developer workspace optimizations."
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }

    SectionHeader { text: "PROACTIVE WORKSPACE HEALTH AUDIT" }

    CoPilotAlertCard {
        objectName: "buildCacheCard"
        Layout.fillWidth: true
        visible: root.showBuildCache
        title: "Xcode Build Cache Bloated"
        symbol: "folder.fill.badge.minus"
        tint: "#ff9f0a"
        readonly property string folderText: Format.homeRelative(root.derivedDataFolder)
        readonly property string sizeText: root.derivedDataBytes > 0 ? Format.bytesAsGB(root.derivedDataBytes, 2)
                                                                       : root.demo ? "4.82 GB" : ""
        text: sizeText.length > 0
              ? "Your Xcode DerivedData folder (" + folderText + ") is consuming " + sizeText
                + " of SSD space. Reclaim it safely; Xcode will rebuild it on your next build."
              : "Your Xcode DerivedData folder (" + folderText + ") is empty or absent: Xcode does not run on Linux, so there is nothing to reclaim."
        actionText: "Prune Build Cache"
        actionSymbol: "trash.fill"
        runningText: "Pruning..."
        running: root.pruning
        actionEnabled: root.derivedDataBytes > 0
        disabledReason: "Nothing to prune: " + folderText + " holds no files."
        onTriggered: confirm.ask(root.derivedDataFolder, root.derivedDataBytes, () => root.caches.purgeDerivedData())
    }

    CoPilotAlertCard {
        objectName: "containerCard"
        Layout.fillWidth: true
        visible: root.showContainers
        title: "Active Container Hypervisors"
        symbol: "shippingbox.fill"
        tint: "#64d2ff"
        text: "Background virtualization hypervisors (Docker/Colima) are active and allocating system registers. Suspend them to free up power."
        detail: root.runningContainers.length > 0 ? "Running now: " + root.runningContainers.join(", ") : ""
        actionText: "Suspend Colima VM"
        actionSymbol: "pause.fill"
        actionEnabled: root.localAI !== null && root.localAI.canStopVM && !root.demo
        disabledReason: root.demo ? "The demo switch is on: its sample workspace has no VM to stop."
                                  : "No container VM to stop: colima is not installed, and Docker on Linux runs without one."
        onTriggered: root.localAI.stopColimaVM()
    }

    CoPilotAlertCard {
        objectName: "thermalCard"
        Layout.fillWidth: true
        visible: root.showThermal
        title: root.fansForced ? "Turbo Cooling Engaged" : "Thermal Throttling Risk"
        symbol: "thermometer"
        tint: root.fansForced ? "#64d2ff" : "#ff453a"
        readonly property string reading: root.temperature > 0
              ? Format.estimate(String(Math.trunc(root.temperature)), root.stats.socTemperatureMeasured) : "74"
        text: root.fansForced
              ? "Fans are forced to 100% velocity. System is running at optimum cold temperature."
              : "CPU package temperature is operating at " + reading + "°C. Engage turbo cooling to prevent thermal throttling."
        actionText: root.fansForced ? "Release Fans" : "Engage Turbo Cooling"
        actionSymbol: "fanblades.fill"
        actionEnabled: root.stats.turboCoolingAvailable
        disabledReason: "No fan output this program can drive: no writable hwmon PWM control was found."
        onTriggered: root.stats.forceTurboCooling = !root.fansForced
    }

    CoPilotAlertCard {
        objectName: "modelCard"
        Layout.fillWidth: true
        visible: root.showModel
        title: "Local AI Weights Loaded"
        symbol: "brain.head.profile"
        tint: "#bf5af2"
        text: "Local AI model '" + (root.firstModel.length > 0 ? root.firstModel : "deepseek-r1:7b")
              + "' is occupying active GPU VRAM. Eject it instantly to release memory pages back to system applications."
        detail: root.modelDetail
        actionText: "Eject AI Model"
        actionSymbol: "eject.fill"
        actionEnabled: root.firstModel.length > 0
        disabledReason: "No model is loaded: the name shown is the demo's sample."
        onTriggered: root.localAI.ejectModel(root.firstModel)
    }

    Text {
        objectName: "auditClear"
        Layout.fillWidth: true
        visible: !root.showBuildCache && !root.showContainers && !root.showThermal && !root.showModel
        text: "Nothing to flag: no bloated build cache, running containers, heat or loaded models."
        color: root.theme.secondaryTextColor
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    AIHealthReportView {
        objectName: "healthReport"
        Layout.fillWidth: true
    }

    SectionHeader { text: "ASK CO-PILOT A HARDWARE QUESTION" }

    CoPilotChat {
        objectName: "copilotChat"
        Layout.fillWidth: true
    }
}
