import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Network" page: the current rates, their last two minutes, and the
// established connections with a way to end the process holding one, asked first.
DashboardPage {
    id: page
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ThemeManager theme: Services.theme

    // The connections are listed only while this page exists (SystemStatsProvider.watchConnections).
    property SystemStatsProvider connectionsWatched: null
    Component.onCompleted: {
        connectionsWatched = stats
        if (connectionsWatched)
            connectionsWatched.watchConnections(true)
    }
    Component.onDestruction: if (connectionsWatched) connectionsWatched.watchConnections(false)

    heading: "Network Traffic & Privacy"
    caption: "Rates across every interface but loopback; connections are established TCP to other machines."
    tipsTitle: "Active Network Optimization Tips"
    tips: [
        "A connection you do not recognise names its process: look the process up before ending it.",
        "Ending a process drops every connection it holds, not just the one listed.",
        "Sync clients and package updaters upload in bursts; pause them while on a metered link.",
        "Wired Ethernet beats Wi-Fi on latency for remote builds and model downloads.",
        "A steady upload with nothing open is worth a look: check the connection list for its owner."
    ]

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        NetworkCard {
            objectName: "downloadCard"
            Layout.fillWidth: true
            title: "Download"
            value: Format.kbPerSecond(page.stats.networkDownload)
            icon: "arrow.down"
            color: "#30d158"
        }
        NetworkCard {
            objectName: "uploadCard"
            Layout.fillWidth: true
            title: "Upload"
            value: Format.kbPerSecond(page.stats.networkUpload)
            icon: "arrow.up"
            color: "#ff9f0a"
        }
    }

    Card {
        Layout.fillWidth: true
        title: "TRAFFIC HISTORY"
        symbol: "network"
        HistoryChart {
            objectName: "trafficChart"
            Layout.fillWidth: true
            plotHeight: 130
            values: page.stats.downloadHistory
            color: "#30d158"
            label: "Download"
            values2: page.stats.uploadHistory
            color2: "#ff9f0a"
            label2: "Upload"
            unit: " KB/s"
            spanText: "\u2212" + page.stats.downloadHistory.length + " s"
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Active Connections & Privacy"
        symbol: "shield"
        Repeater {
            model: Services.activeConnections
            RowLayout {
                id: connection
                required property string remote
                required property string status
                required property string processName
                required property string pid
                // The placeholder row and sockets of processes this user cannot see have pid 0.
                readonly property bool killable: parseInt(pid) > 0
                objectName: "connectionRow"
                Layout.fillWidth: true
                spacing: 8
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 1
                    Text {
                        objectName: "connectionProcess"
                        text: connection.processName + (connection.killable ? "  PID: " + connection.pid : "")
                        color: page.theme.textColor
                        font.pixelSize: 12; font.weight: Font.Medium
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Text {
                        text: connection.remote
                        color: page.theme.secondaryTextColor
                        font.pixelSize: 10; font.family: "monospace"
                        elide: Text.ElideMiddle
                        Layout.fillWidth: true
                    }
                }
                Text {
                    objectName: "connectionStatus"
                    text: connection.status
                    color: connection.status === "ESTABLISHED" ? "#30d158" : page.theme.secondaryTextColor
                    font.pixelSize: 10; font.weight: Font.Bold
                }
                RowButton {
                    objectName: "killButton"
                    visible: connection.killable
                    symbol: "xmark.octagon.fill"
                    tint: "#ff453a"
                    help: "Instantly terminate process (kill -9) to drop this connection"
                    Keys.onReturnPressed: clicked()
                    Keys.onEnterPressed: clicked()
                    onClicked: confirmKill.ask(connection.processName, connection.pid)
                }
            }
        }
    }

    // kill -9 gives the process no chance to save anything, so the user confirms first,
    // seeing which process it is. Tests drive it through accept() and reject().
    Item {
        id: confirmKill
        objectName: "confirmKill"
        // Only a holder for the dialog: it takes no room in the page's column.
        visible: false
        property string processName
        property string pid
        readonly property alias opened: killDialog.opened
        readonly property string question: "End " + processName + " (PID " + pid + ") with kill -9?"

        function ask(name, processId) {
            processName = name
            pid = processId
            killDialog.open()
        }
        function accept() { killDialog.accept() }
        function reject() { killDialog.reject() }

        Dialog {
            id: killDialog
            modal: true
            focus: true
            anchors.centerIn: Overlay.overlay
            width: Math.min(420, Overlay.overlay ? Overlay.overlay.width - 40 : 420)
            title: "End process?"
            closePolicy: Popup.CloseOnEscape
            onAccepted: page.stats.killConnectionProcess(confirmKill.pid)

            contentItem: ColumnLayout {
                spacing: 8
                Text {
                    objectName: "confirmKillQuestion"
                    Layout.fillWidth: true
                    text: confirmKill.question
                    color: page.theme.textColor
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    wrapMode: Text.WrapAnywhere
                }
                Text {
                    Layout.fillWidth: true
                    text: "It stops at once: work it has not saved is lost, and every connection it holds drops."
                    color: page.theme.secondaryTextColor
                    font.pixelSize: 11
                    wrapMode: Text.WordWrap
                }
            }
            footer: DialogButtonBox {
                Button {
                    objectName: "confirmKillButton"
                    text: "Kill"
                    Accessible.name: "Kill " + confirmKill.processName
                    DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                    onClicked: killDialog.accept()
                }
                Button {
                    objectName: "cancelKillButton"
                    text: "Cancel"
                    Accessible.name: "Cancel"
                    DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
                }
            }
        }
    }
}
