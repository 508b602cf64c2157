import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's API sentinel: the local API relay in front of the model server, how fast
// each model generates through it, and the local development servers with how fast each
// answers. The relay's switch belongs to
// this page and starts off; the state line always tells what the relay is really doing.
DashboardPage {
    id: page
    readonly property LocalAPIProxyService proxy: Services.proxy
    readonly property LocalAIService localAI: Services.localAI
    readonly property LocalAPILatencyService latencyProbe: Services.latencyProbe
    readonly property var latencies: Services.activePortLatencies
    property bool proxySwitch: false
    // What the relay said last: why it could not listen, say.
    property string proxyMessage
    property bool remeasureAfterKill: false

    heading: "API Sentinel & Proxy Router"
    caption: "A relay in front of the local model server, and the development servers listening on this machine."
    tipsTitle: "Local API Tips"
    tips: [
        "Point clients at port 11430 instead of 11434 to count requests and see which model each asked for.",
        "While the model server is paused to save power, the relay answers 503 with a JSON reason instead of letting clients hang.",
        "A port held by a crashed dev server blocks the next start: end its owner here instead of hunting for the process id.",
        "Latency above a few milliseconds on loopback means the server is busy or swapping."
    ]

    Connections {
        target: page.proxy
        function onLogged(line) { page.proxyMessage = line }
    }
    Connections {
        target: page.localAI
        function onActiveLocalPortsChanged() {
            if (page.remeasureAfterKill) {
                page.remeasureAfterKill = false
                page.latencyProbe.measureLatencies()
            }
        }
    }

    SandboxNote { Layout.fillWidth: true }

    Card {
        objectName: "proxyCard"
        Layout.fillWidth: true
        title: "Local API Proxy Router"
        symbol: "bolt.horizontal.circle.fill"
        tint: "#0a84ff"
        ToggleRow {
            objectName: "proxyToggle"
            Layout.fillWidth: true
            text: "Route local AI API calls through port 11430"
            caption: "Clients talk to 127.0.0.1:11430 in place of the model server's own port."
            checked: page.proxySwitch
            onToggled: (on) => {
                page.proxySwitch = on
                page.proxyMessage = ""
                if (on)
                    page.proxy.startProxy(11430)
                else
                    page.proxy.stopProxy()
            }
        }
        Text {
            objectName: "proxyState"
            Layout.fillWidth: true
            text: page.proxy.isRunning ? "Routing Port 11430 🚀" : "Offline / Bypassed 💤"
            color: page.proxy.isRunning ? "#30d158" : page.theme.secondaryTextColor
            font.pixelSize: 14
            font.weight: Font.DemiBold
        }
        GridLayout {
            Layout.fillWidth: true
            columns: 2
            columnSpacing: 12
            rowSpacing: 4
            Text { text: "Processed Requests"; color: page.theme.secondaryTextColor; font.pixelSize: 12 }
            Text {
                objectName: "requestCount"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignRight
                text: String(page.proxy.requestCount)
                color: page.theme.textColor
                font.pixelSize: 12
                font.family: "monospace"
            }
            Text { text: "Last Routed LLM Model"; color: page.theme.secondaryTextColor; font.pixelSize: 12 }
            Text {
                objectName: "lastRoutedModel"
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignRight
                text: page.proxy.lastRoutedModel
                color: page.theme.textColor
                font.pixelSize: 12
                font.family: "monospace"
                elide: Text.ElideLeft
            }
        }
        Text {
            objectName: "proxyMessage"
            Layout.fillWidth: true
            visible: page.proxyMessage.length > 0 && page.proxySwitch && !page.proxy.isRunning
            text: page.proxyMessage
            color: "#ff9f0a"
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            SymbolImage {
                Layout.alignment: Qt.AlignTop
                symbol: "shield.checkered"
                tint: page.proxy.isRunning ? "#30d158" : page.theme.secondaryTextColor
                side: 13
            }
            Text {
                objectName: "proxyNote"
                Layout.fillWidth: true
                text: page.proxy.isRunning
                      ? "Native TCP proxy routing active. Auto-failsafe replies with JSON if Ollama is suspended to save battery."
                      : "Switched on, the relay answers with JSON when Ollama is suspended to save battery, instead of leaving clients waiting."
                color: page.theme.secondaryTextColor
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }
        }
    }

    ModelThroughputCard { Layout.fillWidth: true }

    Card {
        objectName: "sentinelCard"
        Layout.fillWidth: true
        title: "Active Port Sentinel"
        symbol: "network"
        tint: "#ff375f"
        RowLayout {
            Layout.fillWidth: true
            visible: page.latencies.count === 0
            spacing: 8
            SymbolImage { symbol: "wifi.router.fill"; tint: page.theme.secondaryTextColor; side: 16 }
            Text {
                Layout.fillWidth: true
                text: "No active local development servers found"
                color: page.theme.secondaryTextColor
                font.pixelSize: 12
                wrapMode: Text.WordWrap
            }
        }
        Repeater {
            model: page.latencies
            delegate: RowLayout {
                id: row
                required property int port
                required property string processName
                required property int pid
                required property string status
                required property double latencyMs
                objectName: "sentinelRow"
                Layout.fillWidth: true
                spacing: 10
                Text {
                    text: "Port " + row.port
                    color: page.theme.textColor
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                    Layout.preferredWidth: 86
                }
                Text {
                    Layout.fillWidth: true
                    text: row.processName
                    color: page.theme.textColor
                    font.pixelSize: 12
                    elide: Text.ElideRight
                }
                Text { text: "PID " + row.pid; color: page.theme.secondaryTextColor; font.pixelSize: 11; font.family: "monospace" }
                Badge { text: row.status; tint: row.status === "Online" ? "#30d158" : "#ff453a" }
                Text {
                    text: Format.ms(row.latencyMs, 1)
                    color: page.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                    horizontalAlignment: Text.AlignRight
                    Layout.preferredWidth: 60
                }
                RowButton {
                    objectName: "sentinelKill"
                    symbol: "xmark.circle.fill"
                    tint: "#ff453a"
                    help: "Instantly terminate the conflicting process to free up this port"
                    Accessible.name: "Kill " + row.processName + " on port " + row.port
                    focusPolicy: Qt.StrongFocus
                    onClicked: {
                        page.remeasureAfterKill = true
                        page.localAI.killProcessOnPort(row.pid)
                        // The port list may not change (a refused kill): measure anyway.
                        remeasure.restart()
                    }
                }
            }
        }
        Timer {
            id: remeasure
            interval: 1500
            onTriggered: if (page.remeasureAfterKill) { page.remeasureAfterKill = false; page.latencyProbe.measureLatencies() }
        }
    }
}
