import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The AI tab's servers: listening local ports, vector-database containers, helper agents
// left behind by closed editors, and how fast each local endpoint answers.
ColumnLayout {
    id: root
    readonly property LocalAIService localAI: Services.localAI
    readonly property ThemeManager theme: Services.theme
    readonly property var ports: Services.activeLocalPorts
    readonly property var databases: Services.activeVectorDBs
    readonly property var companions: Services.orphanedAICompanions
    readonly property var latencies: Services.activePortLatencies
    property bool purgingCompanions: false
    spacing: 8

    Connections {
        target: root.companions
        function onCountChanged() { if (root.companions.count === 0) root.purgingCompanions = false }
    }
    Timer { id: purgeTimeout; interval: 8000; onTriggered: root.purgingCompanions = false }

    component Line: Text {
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        elide: Text.ElideRight
    }
    component Empty: Text {
        Layout.fillWidth: true
        color: root.theme.secondaryTextColor
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    Card {
        objectName: "portSentinelCard"
        Layout.fillWidth: true
        padding: 12
        title: "Active API Port Sentinel"
        symbol: "network"
        tint: "#0a84ff"
        Text {
            objectName: "listenerCount"
            text: root.ports.count + " Listeners"
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
        }
        Empty { visible: root.ports.count === 0; text: "No active local listeners found" }
        Repeater {
            model: root.ports
            delegate: RowLayout {
                id: portRow
                required property int port
                required property string processName
                required property int pid
                objectName: "portRow"
                Layout.fillWidth: true
                spacing: 6
                Text {
                    Layout.preferredWidth: 74
                    text: "Port " + portRow.port
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
                Text {
                    Layout.fillWidth: true
                    text: portRow.processName
                    color: root.theme.textColor
                    font.pixelSize: 11
                    elide: Text.ElideRight
                }
                Line { text: "PID: " + portRow.pid }
                RowButton {
                    objectName: "killPort"
                    symbol: "xmark.circle.fill"
                    tint: "#ff453a"
                    help: "Instantly terminate (kill -9) the conflicting process running on this port to free it up."
                    Accessible.name: "Kill " + portRow.processName + " on port " + portRow.port
                    focusPolicy: Qt.StrongFocus
                    onClicked: root.localAI.killProcessOnPort(portRow.pid)
                }
            }
        }
    }

    Card {
        objectName: "vectorDbCard"
        Layout.fillWidth: true
        padding: 12
        title: "Local Vector Databases"
        symbol: "cylinder.split.1x2"
        tint: "#64d2ff"
        Text {
            objectName: "vectorDbCount"
            text: root.databases.count + " Active"
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
        }
        Empty { visible: root.databases.count === 0; text: "No active local vector databases found" }
        Repeater {
            model: root.databases
            delegate: RowLayout {
                id: dbRow
                required property string name
                required property string containerId
                required property int port
                required property string memoryUsage
                required property string status
                property bool hibernating: false
                objectName: "vectorDbRow"
                Layout.fillWidth: true
                spacing: 6
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 1
                    Text {
                        Layout.fillWidth: true
                        text: dbRow.name
                        color: root.theme.textColor
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Line { Layout.fillWidth: true; text: "Container ID: " + dbRow.containerId }
                    Line { Layout.fillWidth: true; text: "Port " + dbRow.port + " · " + dbRow.memoryUsage + " · " + dbRow.status }
                }
                RunningButton {
                    objectName: "hibernateButton"
                    text: "Hibernate"
                    runningText: "Hibernating…"
                    running: dbRow.hibernating
                    compact: true
                    Accessible.name: "Hibernate " + dbRow.name
                    onClicked: {
                        dbRow.hibernating = true
                        hibernateTimeout.restart()
                        root.localAI.stopVectorDatabase(dbRow.containerId)
                    }
                    // A container tool that never answers must not leave the row busy.
                    Timer { id: hibernateTimeout; interval: 15000; onTriggered: dbRow.hibernating = false }
                }
            }
        }
    }

    Card {
        objectName: "companionCard"
        Layout.fillWidth: true
        padding: 12
        title: "IDE Companion Agent Cleaner"
        symbol: "checkmark.shield.fill"
        tint: "#30d158"
        RowLayout {
            Layout.fillWidth: true
            visible: root.companions.count === 0
            spacing: 6
            SymbolImage { symbol: "checkmark.shield.fill"; tint: "#30d158"; side: 14 }
            Empty { text: "No orphaned extension agents leaking memory" }
        }
        Empty {
            visible: root.companions.count > 0
            text: "Leaked companion process(es) detected from closed IDE environments:"
            font.pixelSize: 11
        }
        Repeater {
            model: root.companions
            delegate: ColumnLayout {
                id: companionRow
                required property string name
                required property string targetIDE
                required property int pid
                required property string memoryUsage
                objectName: "companionRow"
                Layout.fillWidth: true
                spacing: 1
                Text {
                    Layout.fillWidth: true
                    text: companionRow.name
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }
                Line {
                    Layout.fillWidth: true
                    text: "Parent IDE: " + companionRow.targetIDE + " · PID " + companionRow.pid + " · " + companionRow.memoryUsage
                }
            }
        }
        RunningButton {
            objectName: "purgeCompanions"
            visible: root.companions.count > 0
            text: "Purge Orphaned Helpers"
            compact: true
            runningText: "Purging helpers…"
            running: root.purgingCompanions
            symbol: "sparkles"
            onClicked: {
                root.purgingCompanions = true
                purgeTimeout.restart()
                root.localAI.purgeOrphanedCompanions()
            }
        }
    }

    Card {
        objectName: "latencyCard"
        Layout.fillWidth: true
        padding: 12
        title: "Local Workspace Endpoint Latency"
        symbol: "waveform.path.ecg"
        tint: "#ff375f"
        Empty { visible: root.latencies.count === 0; text: "No active local development servers to profile" }
        Repeater {
            model: root.latencies
            delegate: RowLayout {
                id: latencyRow
                required property int port
                required property string processName
                required property string status
                required property double latencyMs
                objectName: "latencyRow"
                Layout.fillWidth: true
                spacing: 6
                Text {
                    text: String(latencyRow.port)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                    font.weight: Font.DemiBold
                }
                Text {
                    Layout.fillWidth: true
                    text: latencyRow.processName
                    color: root.theme.textColor
                    font.pixelSize: 11
                    elide: Text.ElideRight
                }
                Badge {
                    objectName: "latencyStatus"
                    text: latencyRow.status
                    tint: latencyRow.status === "Online" ? "#30d158" : "#ff453a"
                }
                Text {
                    objectName: "latencyValue"
                    text: Format.ms(latencyRow.latencyMs)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                }
            }
        }
    }
}
