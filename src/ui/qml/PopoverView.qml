import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The compact window under the telemetry tray icon: header, the selected tab, the tab bar.
Rectangle {
    id: root
    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    readonly property NotificationCenter notifications: Services.notifications
    // Raises or starts the application at this path; the shell connects it.
    signal openApplication(string path)
    property int selectedTab: 0
    // Set while the tour moves the tabs, which glide instead of springing.
    property bool tourDriven: false
    onSelectedTabChanged: {
        const animation = tourDriven ? tourSlide : tapSpring
        tapSpring.stop()
        tourSlide.stop()
        animation.to = selectedTab * tabStrip.step
        animation.start()
    }

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
                    && Number.isInteger(info.tabIndex) && info.tabIndex >= 0 && info.tabIndex < root.tabs.length) {
                root.tourDriven = true
                root.selectedTab = info.tabIndex
                root.tourDriven = false
            }
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

        // Only the selected tab exists, and only while the popover is on screen: a closed
        // popover costs no bindings and no painting.
        Loader {
            id: content
            objectName: "tabContent"
            Layout.fillWidth: true
            Layout.fillHeight: true
            active: root.Window.window === null || root.Window.window.visible
            sourceComponent: [cpuTab, networkTab, diskTab, memoryTab, aiTab][root.selectedTab]
            opacity: 1
            onLoaded: {
                fade.duration = root.tourDriven ? 500 : 200
                fade.restart()
            }
            NumberAnimation { id: fade; target: content; property: "opacity"; from: 0.4; to: 1; duration: 200; easing.type: Easing.InOutQuad }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: root.theme.dividerColor }

        RowLayout {
            Layout.fillWidth: true
            spacing: 4
            Item {
                id: tabStrip
                implicitWidth: tabRow.implicitWidth
                implicitHeight: 32
                readonly property real step: 32 + tabRow.spacing
                // The selected tab's fill slides under the buttons rather than jumping.
                Rectangle {
                    id: tabHighlight
                    objectName: "tabHighlight"
                    width: 32; height: 32; radius: 8
                    color: root.tabs[root.selectedTab].tint
                    opacity: 0.22
                    Component.onCompleted: x = root.selectedTab * tabStrip.step
                    Behavior on color { ColorAnimation { duration: 250 } }
                }
                // A tap springs like one with a 0.3 s period at 0.7 of critical damping: it
                // peaks 4.6 % past the button after 0.21 s. SpringAnimation's fixed 16 ms steps
                // reach those two figures with these constants.
                SpringAnimation { id: tapSpring; target: tabHighlight; property: "x"; spring: 5.4; damping: 0.37; epsilon: 0.25 }
                NumberAnimation { id: tourSlide; target: tabHighlight; property: "x"; duration: 500; easing.type: Easing.InOutQuad }
                Row {
                    id: tabRow
                    spacing: 4
                    Repeater {
                        model: root.tabs
                        TabBarButton {
                            objectName: "tabButton"
                            required property var modelData
                            required property int index
                            tabIndex: index
                            title: modelData.title
                            symbol: modelData.symbol
                            tint: modelData.tint
                            idleTint: root.theme.secondaryTextColor
                            selectedTab: root.selectedTab
                            showOnboardingTour: root.preferences.showOnboardingTour
                            onboardingTourStep: root.preferences.onboardingTourStep
                            onPicked: (i) => root.selectedTab = i
                        }
                    }
                }
            }
            Item { Layout.fillWidth: true }
            // Running applications with an icon of their own, busiest first.
            Repeater {
                model: {
                    const apps = []
                    const rows = content.active && Services.processMonitor ? Services.processMonitor.topProcesses : []
                    for (let i = 0; i < rows.length && apps.length < 3; ++i)
                        if (rows[i].icon.length > 0 && apps.every(function(a) { return a.name !== rows[i].name }))
                            apps.push(rows[i])
                    return apps
                }
                AbstractButton {
                    required property var modelData
                    objectName: "trayApp"
                    Accessible.name: "Open " + modelData.name
                    implicitWidth: 26
                    implicitHeight: 26
                    hoverEnabled: true
                    ToolTip.visible: hovered
                    ToolTip.text: "Open " + modelData.name
                    ToolTip.delay: 500
                    onClicked: root.openApplication(modelData.fullPath)
                    contentItem: Image {
                        source: "image://appicon/" + encodeURIComponent(parent.modelData.icon)
                        sourceSize: Qt.size(20 * Screen.devicePixelRatio, 20 * Screen.devicePixelRatio)
                        fillMode: Image.PreserveAspectFit
                    }
                }
            }
            HeaderButton {
                symbol: "slider.horizontal.3"; help: "Open Dashboard"; tint: root.theme.textColor
                onClicked: root.notifications.post("OpenDashboard", {})
            }
        }
    }

    Component {
        id: cpuTab
        CPUTabView {}
    }
    Component {
        id: networkTab
        NetworkTabView {}
    }
    Component {
        id: diskTab
        DiskTabView {}
    }
    Component {
        id: memoryTab
        MemoryTabView {}
    }
    Component {
        id: aiTab
        AITabView {}
    }
}
