import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The compact window under the telemetry tray icon: header, the selected tab, the tab bar.
Rectangle {
    id: root
    required property var stats
    required property var processMonitor
    required property var theme
    required property var preferences
    required property var notifications
    property int selectedTab: 0

    readonly property var tabs: [
        { symbol: "cpu", title: "CPU", tint: "#0a84ff" },
        { symbol: "network", title: "Network", tint: "#30d158" },
        { symbol: "externaldrive.fill", title: "Disk", tint: "#ff9f0a" },
        { symbol: "memorychip", title: "Memory", tint: "#bf5af2" },
        { symbol: "sparkles", title: "AI", tint: "#bf5af2" }
    ]

    implicitWidth: 320
    implicitHeight: 620
    radius: 12
    color: theme.contentBackground
    opacity: theme.translucentBackground ? 0.97 : 1.0
    border.color: theme.dividerColor
    border.width: 1

    Connections {
        target: root.notifications
        function onPosted(name, info) {
            if (name === "TourUpdatePopoverTab" && root.Window.window && root.Window.window.visible
                    && info.tabIndex !== undefined && Number.isInteger(info.tabIndex))
                root.selectedTab = info.tabIndex
        }
    }

    Timer {
        id: tourDelay
        interval: 300
        onTriggered: root.notifications.post("StartTour", {})
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            Rectangle {
                width: 24; height: 24; radius: 6
                color: root.theme.accentColor
                SymbolImage { anchors.centerIn: parent; symbol: "shield.fill"; side: 14; tint: "white" }
            }
            Text {
                text: "Quillmoor"
                color: root.theme.textColor
                font.pixelSize: 15
                font.weight: Font.Bold
            }
            Item { Layout.fillWidth: true }
            HeaderButton {
                symbol: "safari.fill"; label: "Tour"; tint: root.theme.accentColor
                onClicked: { root.notifications.post("OpenDashboard", { tab: "Settings" }); tourDelay.restart() }
            }
            HeaderButton {
                symbol: "gearshape.fill"; help: "Settings"; tint: root.theme.textColor
                onClicked: root.notifications.post("OpenDashboard", { tab: "Settings" })
            }
            HeaderButton {
                symbol: root.preferences.showFullProcessPath ? "list.bullet.rectangle.portrait.fill"
                                                             : "list.bullet.rectangle.portrait"
                help: "Show Full Process Paths"
                tint: root.preferences.showFullProcessPath ? root.theme.accentColor : root.theme.textColor
                onClicked: root.preferences.showFullProcessPath = !root.preferences.showFullProcessPath
            }
            HeaderButton {
                symbol: "paintbrush.fill"; help: "Theme: " + root.theme.currentTheme; tint: root.theme.secondaryAccent
                onClicked: root.theme.selectNextTheme()
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: root.theme.dividerColor }

        // Tab content. Each tab's screen replaces its title here as it is built.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Text {
                objectName: "tabTitle"
                anchors.top: parent.top
                anchors.left: parent.left
                text: root.tabs[root.selectedTab].title.toUpperCase()
                color: root.theme.secondaryTextColor
                font.pixelSize: 11
                font.weight: Font.Bold
                font.letterSpacing: 1.2
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: root.theme.dividerColor }

        RowLayout {
            Layout.fillWidth: true
            spacing: 4
            Repeater {
                model: root.tabs
                TabBarButton {
                    required property var modelData
                    required property int index
                    tabIndex: index
                    symbol: modelData.symbol
                    tint: modelData.tint
                    idleTint: root.theme.secondaryTextColor
                    selectedTab: root.selectedTab
                    onPicked: (i) => root.selectedTab = i
                }
            }
            Item { Layout.fillWidth: true }
            HeaderButton {
                symbol: "slider.horizontal.3"; help: "Open Dashboard"; tint: root.theme.textColor
                onClicked: root.notifications.post("OpenDashboard", {})
            }
        }
    }
}
