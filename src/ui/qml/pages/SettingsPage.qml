import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Settings" page: general switches, alerts, the workspace persona, the
// theme, the metrics endpoint and the update check. Every control writes its preference at once.
DashboardPage {
    id: page
    objectName: "settingsPage"
    readonly property Preferences preferences: Services.preferences
    readonly property AutoUpdater updater: Services.updater
    readonly property LaunchAtLoginManager launchAtLogin: Services.launchAtLogin
    readonly property MetricsEndpoint metrics: Services.metrics
    // Each persona's colour on its card.
    readonly property var personaTints: ({ "AI Engineer": "#bf5af2", "Software Developer": "#0a84ff",
                                           "Content Creator": "#ff375f", "Gamer": "#30d158" })

    tipsTitle: "Settings Tips"
    tips: [
        "Pick the persona that matches your work: the sidebar's first two sections follow it.",
        "Advanced Mode adds fan speeds, diode temperatures, swap and deep network figures to the telemetry tabs.",
        "The CPU alert is a desktop notification; lower the threshold to hear about sustained load sooner.",
        "Quillmoor never checks for updates on its own: press Check for Updates when you want to know.",
        "Metrics for Prometheus carry only measured figures; on a machine without a desktop, quillmoor-exporter serves the same."
    ]

    // A button of a one-of-several row: the theme names.
    component SegmentButton: Button {
        id: segment
        property bool selected
        checkable: false
        focusPolicy: Qt.StrongFocus
        Accessible.role: Accessible.RadioButton
        Accessible.name: text
        Accessible.checkable: true
        Accessible.checked: selected
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        padding: 6
        leftPadding: 12
        rightPadding: 12
        contentItem: Text {
            text: segment.text
            color: segment.selected ? "white" : page.theme.textColor
            font.pixelSize: 12
            font.weight: segment.selected ? Font.DemiBold : Font.Normal
            horizontalAlignment: Text.AlignHCenter
        }
        background: Rectangle {
            radius: 7
            color: segment.selected ? page.theme.accentColor : page.theme.cardBackground
            border.width: segment.visualFocus ? 2 : 1
            border.color: segment.visualFocus ? page.theme.textColor : page.theme.dividerColor
        }
    }

    // An alert kind and the status it is in, which the user cannot change here.
    component AlertRow: RowLayout {
        id: alert
        property string text
        property string caption
        property string status
        property bool active
        Layout.fillWidth: true
        spacing: 10
        Accessible.role: Accessible.StaticText
        Accessible.name: text + ": " + status
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            Text {
                Layout.fillWidth: true
                text: alert.text
                color: page.theme.textColor
                font.pixelSize: 13
                font.weight: Font.DemiBold
                wrapMode: Text.WordWrap
            }
            Text {
                Layout.fillWidth: true
                text: alert.caption
                color: page.theme.secondaryTextColor
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }
        }
        Rectangle {
            // Beside the title: a wrapped caption settles its height a pass later, and a
            // centred badge would sit a row too low until it did.
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 2
            implicitWidth: stateText.implicitWidth + 16
            implicitHeight: stateText.implicitHeight + 6
            radius: height / 2
            color: alert.active ? Qt.rgba(0.19, 0.82, 0.35, 0.18) : page.theme.cardBackground
            border.width: 1
            border.color: alert.active ? "#30d158" : page.theme.dividerColor
            Text {
                id: stateText
                objectName: "alertState"
                anchors.centerIn: parent
                text: alert.status
                color: alert.active ? "#30d158" : page.theme.secondaryTextColor
                font.pixelSize: 11
                font.weight: Font.DemiBold
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "General"
        symbol: "gearshape.fill"

        ToggleRow {
            objectName: "launchAtLoginToggle"
            Layout.fillWidth: true
            text: "Launch at Login"
            caption: "Starts Quillmoor when you log in to your desktop session."
            available: page.launchAtLogin !== null
            unavailableText: "Not available in this build."
            checked: page.launchAtLogin ? page.launchAtLogin.isEnabled : false
            onToggled: (on) => { if (page.launchAtLogin) page.launchAtLogin.isEnabled = on }
        }
        ToggleRow {
            objectName: "fullPathsToggle"
            Layout.fillWidth: true
            text: "Show Full Process Paths"
            caption: "Process lists show each program's full path instead of its name."
            checked: page.preferences.showFullProcessPath
            onToggled: (on) => page.preferences.showFullProcessPath = on
        }
        RunningButton {
            objectName: "startTourButton"
            text: "Start Guided Onboarding Tour"
            symbol: "safari.fill"
            onClicked: {
                page.preferences.onboardingTourStep = 0
                page.preferences.showOnboardingTour = true
            }
        }
        ToggleRow {
            objectName: "advancedModeToggle"
            Layout.fillWidth: true
            text: "Enable Advanced Mode"
            caption: "Unlocks Fan RPMs, Diode Temperatures, Swap Memory, and Deep Network Stats."
            checked: page.preferences.advancedMode
            onToggled: (on) => page.preferences.advancedMode = on
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Alerts & Notifications"
        symbol: "gauge"

        // The CPU alert cannot be switched off; the threshold below is what controls it. The
        // other two kinds of alert are not watched for by this version. Neither is a switch
        // that would do nothing: each row states what holds.
        AlertRow {
            objectName: "cpuAlertsRow"
            text: "High CPU Alerts"
            status: "Always on"
            active: true
            caption: "A desktop notification whenever CPU use is above the threshold below."
        }
        AlertRow {
            objectName: "connectionAlertsRow"
            text: "New Network Connection Alerts"
            status: "Not available"
            caption: "Not available in this version: nothing watches for new connections yet."
        }
        AlertRow {
            objectName: "diskAlertsRow"
            text: "Disk Space Low Alerts"
            status: "Not available"
            caption: "Not available in this version: nothing watches free disk space yet."
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Text {
                text: "CPU Threshold:"
                color: page.theme.textColor
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            Slider {
                id: threshold
                objectName: "cpuThresholdSlider"
                Layout.fillWidth: true
                from: 50
                to: 100
                stepSize: 1
                snapMode: Slider.SnapAlways
                focusPolicy: Qt.StrongFocus
                value: page.preferences.cpuAlertThreshold
                Accessible.name: "CPU Threshold"
                onMoved: page.preferences.cpuAlertThreshold = value
            }
            Text {
                objectName: "cpuThresholdValue"
                Layout.preferredWidth: 44
                text: Format.percent(page.preferences.cpuAlertThreshold, 0)
                color: page.theme.textColor
                font.pixelSize: 13
                font.family: "monospace"
                horizontalAlignment: Text.AlignRight
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Workspace Persona"
        symbol: "sparkles"

        Flow {
            Layout.fillWidth: true
            spacing: 10
            Repeater {
                model: Services.personas.personas
                PersonaCard {
                    required property string modelData
                    objectName: "personaCard"
                    persona: modelData
                    tint: page.personaTints[modelData] || page.theme.accentColor
                    selected: page.preferences.workspacePersona === modelData
                    onClicked: page.preferences.workspacePersona = modelData
                }
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Theme"
        symbol: "paintbrush"

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Text {
                text: "App Theme"
                color: page.theme.textColor
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            Flow {
                Layout.fillWidth: true
                spacing: 6
                Repeater {
                    model: page.theme.allThemes
                    SegmentButton {
                        required property string modelData
                        objectName: "themeButton"
                        text: modelData
                        selected: page.theme.currentTheme === modelData
                        onClicked: page.theme.currentTheme = modelData
                    }
                }
            }
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Metrics for Prometheus"
        symbol: "chart.bar"

        ToggleRow {
            objectName: "metricsToggle"
            Layout.fillWidth: true
            text: "Expose metrics for Prometheus"
            caption: "Serves the figures Quillmoor measures at /metrics, read-only, for Prometheus or Grafana Agent to scrape."
            available: page.metrics !== null
            unavailableText: "Not available in this build."
            checked: page.preferences.metricsEndpointEnabled
            onToggled: (on) => page.preferences.metricsEndpointEnabled = on
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Text {
                text: "Address"
                color: page.theme.textColor
                font.pixelSize: 12
            }
            TextField {
                id: metricsAddress
                objectName: "metricsAddressField"
                Layout.fillWidth: true
                Layout.maximumWidth: 260
                text: page.preferences.metricsEndpointAddress
                placeholderText: "127.0.0.1:11440"
                selectByMouse: true
                font.pixelSize: 12
                color: page.theme.textColor
                placeholderTextColor: page.theme.secondaryTextColor
                Accessible.name: "Metrics address and port"
                background: Rectangle {
                    implicitHeight: 28
                    radius: 6
                    color: page.theme.cardBackground
                    border.width: metricsAddress.activeFocus ? 2 : 1
                    border.color: metricsAddress.activeFocus ? page.theme.accentColor : page.theme.dividerColor
                }
                // Written when the user is done typing, so the endpoint does not restart on
                // every key.
                onEditingFinished: page.preferences.metricsEndpointAddress = text
            }
        }
        Text {
            objectName: "metricsStatus"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            readonly property bool failed: page.metrics !== null && page.preferences.metricsEndpointEnabled
                                           && !page.metrics.listening && page.metrics.errorString.length > 0
            color: failed ? "#ff453a" : page.theme.secondaryTextColor
            text: {
                const m = page.metrics
                if (!m)
                    return ""
                if (!page.preferences.metricsEndpointEnabled)
                    return "Off: nothing listens."
                if (m.listening) {
                    const local = /^(127\.|\[::1\]|localhost)/.test(m.address)
                    return "Serving http://" + m.address + "/metrics"
                           + (local ? "" : ". Anyone who can reach this address can read these figures.")
                }
                return m.errorString
            }
            visible: text.length > 0
        }
    }

    Card {
        Layout.fillWidth: true
        title: "Updates"
        symbol: "arrow.down"

        RowLayout {
            Layout.fillWidth: true
            spacing: 12
            RunningButton {
                objectName: "checkUpdatesButton"
                text: "Check for Updates"
                runningText: "Checking for Updates..."
                symbol: "arrow.down"
                enabled: page.updater !== null && !running
                running: page.updater ? page.updater.isChecking : false
                onClicked: page.updater.checkForUpdates()
            }
            Button {
                objectName: "downloadUpdateButton"
                visible: page.updater !== null && page.updater.updateAvailable && !page.updater.isChecking
                text: "Download"
                focusPolicy: Qt.StrongFocus
                Accessible.name: "Download Quillmoor " + (page.updater ? page.updater.latestVersion : "")
                Keys.onReturnPressed: clicked()
                Keys.onEnterPressed: clicked()
                onClicked: Qt.openUrlExternally(page.updater.downloadURL)
            }
        }
        Text {
            objectName: "updateStatus"
            Layout.fillWidth: true
            wrapMode: Text.WordWrap
            font.pixelSize: 12
            color: page.updater && page.updater.errorMessage.length > 0 ? "#ff453a" : page.theme.secondaryTextColor
            text: {
                const u = page.updater
                if (!u)
                    return "Update checks are not available in this build."
                if (u.isChecking)
                    return "Asking the update server for the newest release..."
                if (u.errorMessage.length > 0)
                    return u.errorMessage
                if (u.updateAvailable)
                    return "Quillmoor " + u.latestVersion + " is available."
                if (u.hasChecked)
                    return "Quillmoor is up to date."
                return "Not checked yet. Quillmoor checks only when you ask."
            }
        }
        Text {
            objectName: "releaseNotes"
            Layout.fillWidth: true
            visible: page.updater !== null && page.updater.updateAvailable && page.updater.releaseNotes.length > 0
            text: page.updater ? page.updater.releaseNotes : ""
            color: page.theme.textColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }
}
