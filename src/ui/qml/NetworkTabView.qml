import QtQuick
import QtQuick.Layouts
import Quillmoor

// The popover's network tab: upload and download rates, the addresses, the top processes.
ColumnLayout {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ProcessMonitor processMonitor: Services.processMonitor
    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    spacing: 10


    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        Repeater {
            model: [
                { title: "Upload", symbol: "arrow.up", tint: "#ff9f0a" },
                { title: "Download", symbol: "arrow.down", tint: "#30d158" }
            ]
            Rectangle {
                id: card
                required property var modelData
                required property int index
                readonly property real value: index === 0 ? root.stats.networkUpload : root.stats.networkDownload
                Layout.fillWidth: true
                implicitHeight: 56
                radius: 10
                color: Qt.rgba(Qt.color(modelData.tint).r, Qt.color(modelData.tint).g, Qt.color(modelData.tint).b, 0.14)
                Column {
                    anchors.centerIn: parent
                    spacing: 2
                    Row {
                        anchors.horizontalCenter: parent.horizontalCenter
                        spacing: 4
                        SymbolImage { symbol: modelData.symbol; tint: modelData.tint; side: 11 }
                        Text { text: modelData.title; color: root.theme.secondaryTextColor; font.pixelSize: 10 }
                    }
                    Text {
                        objectName: "networkRate"
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: Format.kbPerSecond(card.value)
                        color: modelData.tint
                        width: Math.min(implicitWidth, parent.parent.width - 12)
                        font.pixelSize: 14
                        fontSizeMode: Text.HorizontalFit
                        minimumPixelSize: 8
                        horizontalAlignment: Text.AlignHCenter
                        font.weight: Font.Bold
                        font.family: "monospace"
                    }
                }
            }
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 4
        SectionHeader { text: "PUBLIC IP ADDRESSES" }
        HardwareRow { symbol: "network"; title: "Public"; value: root.stats.publicIP }
        SectionHeader { text: "IP ADDRESSES" }
        HardwareRow { objectName: "localAddress"; symbol: "wifi"; title: "Wi-Fi"; value: root.stats.localIP }
    }

    ProcessList {
        Layout.fillWidth: true
        showFullProcessPath: root.preferences.showFullProcessPath
        advancedMode: root.preferences.advancedMode
        // Per-process traffic is not counted by the kernel for unprivileged readers.
    }
    Item { Layout.fillHeight: true }
}
