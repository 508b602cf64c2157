import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The guided tour, laid over the dashboard: six steps, each a card with its own small
// demonstration. Step 4 walks the dashboard's sidebar and step 5 opens the tray popover and
// cycles its tabs, so the user sees the real screens rather than pictures of them.
//
// The step lives in the preferences, so a tour interrupted by quitting reopens where it was.
// Each demonstration has one timer, running only while the tour is on screen and on that
// step; closing the tour or leaving the step stops it. The intervals are properties so a
// test can run the demonstrations in milliseconds.
FocusScope {
    id: root
    objectName: "onboardingTour"

    // How far the dashboard's sidebar reaches from the left; step 4 leaves it undimmed.
    property real sidebarWidth: 0
    property int presetIntervalMs: 1500
    property int cacheIntervalMs: 1200
    property int sidebarIntervalMs: 2500
    property int popoverIntervalMs: 2500

    // Step 4 asks the dashboard to show one of its pages.
    signal pageRequested(string title)

    readonly property ThemeManager theme: Services.theme
    readonly property Preferences preferences: Services.preferences
    readonly property NotificationCenter notifications: Services.notifications
    readonly property int step: preferences.onboardingTourStep
    readonly property int lastStep: 5
    readonly property bool onScreen: visible && !finishing && Window.window !== null && Window.window.visible

    readonly property var sidebarSequence: ["AI Hardware", "Performance Presets", "AI Models", "Sensors", "Memory", "Settings"]
    readonly property var samplePresets: [
        { name: "Inference Max", symbol: "bolt.fill", tint: "#bf5af2" },
        { name: "Compile Max", symbol: "terminal.fill", tint: "#0a84ff" },
        { name: "Creative Max", symbol: "slider.horizontal.3", tint: "#ff375f" },
        { name: "Game Mode", symbol: "gamecontroller.fill", tint: "#30d158" }
    ]
    // Sample lines only: the demonstration counts them up and deletes nothing.
    readonly property var sampleCaches: [
        { name: "Rust target/ build directories", gb: 0.8 },
        { name: "npm & Cargo registries", gb: 1.2 },
        { name: "Steam & Mesa shader caches", gb: 0.6 },
        { name: "DaVinci Resolve render cache", gb: 2.3 }
    ]
    readonly property var personaTints: ({ "AI Engineer": "#bf5af2", "Software Developer": "#0a84ff",
                                           "Content Creator": "#ff375f", "Gamer": "#30d158" })
    readonly property var steps: [
        { title: "Welcome to Quillmoor",
          text: "Your state-of-the-art system co-pilot. Tailored profiles, instant cache cleaners, and real-time hardware metrics optimized for the way you work." },
        { title: "Workspace Personas",
          text: "Adjust sidebar navigation and optimization tools to fit your specific workflow:" },
        { title: "Performance Profiles",
          text: "Instantly prioritize compile, render, or gaming workloads. Quillmoor temporarily scales back background services, suspends inactive helpers, and optimizes unified memory." },
        { title: "One-Click Cache Cleaners",
          text: "Prune space-hogging build directories, compiler registries, game shaders, and video render files with a single click. Keep your laptop clean and performant." },
        { title: "Interactive Navigation Tour",
          text: "Quillmoor is now cycling through your sidebar menus on the left. Notice the green/blue pulsating highlights guiding you through the sections:" },
        { title: "Menu Bar Quick Control",
          text: "Access Quillmoor instantly from anywhere on your desktop using the system tray icon. The compact window is perfect for quick adjustments:" }
    ]

    // How far each demonstration has got.
    property int presetIndex: 0
    property int cachesCleaned: 0
    property int sidebarIndex: -1
    property int popoverTab: 0
    property bool popoverOpen: false
    property bool finishing: false

    readonly property real reclaimedGB: {
        let total = 0
        for (let i = 0; i < cachesCleaned && i < sampleCaches.length; ++i)
            total += sampleCaches[i].gb
        return total
    }

    function next() {
        if (step >= lastStep)
            finish()
        else
            preferences.onboardingTourStep = step + 1
    }
    function back() {
        if (step > 0)
            preferences.onboardingTourStep = step - 1
    }
    // Skip, "Get Started" and Escape all end the tour the same way.
    function finish() {
        if (finishing)
            return
        popoverOpen = false       // first, so going off screen does not close it a second time
        finishing = true          // stops every timer through its running binding
        notifications.post("ClosePopover", {})
        preferences.hasCompletedOnboardingTour = true
        preferences.showOnboardingTour = false
    }

    // The popover is open exactly while step 5 is on screen: entering it opens the popover
    // on its first tab, leaving it (or the tour going away) closes it.
    function syncPopover() {
        const wanted = onScreen && step === lastStep
        if (wanted === popoverOpen)
            return
        popoverOpen = wanted
        if (wanted) {
            popoverTab = 0
            notifications.post("OpenPopover", {})
            notifications.post("TourUpdatePopoverTab", { tabIndex: 0 })
        } else {
            notifications.post("ClosePopover", {})
        }
    }
    onStepChanged: syncPopover()
    onOnScreenChanged: syncPopover()
    Component.onCompleted: {
        syncPopover()
        nextButton.forceActiveFocus()
    }
    Component.onDestruction: {
        if (popoverOpen && notifications)
            notifications.post("ClosePopover", {})
    }

    Timer {
        objectName: "presetTimer"
        interval: root.presetIntervalMs
        repeat: true
        running: root.onScreen && root.step === 2
        onRunningChanged: if (running) root.presetIndex = 0
        onTriggered: root.presetIndex = (root.presetIndex + 1) % root.samplePresets.length
    }
    Timer {
        objectName: "cacheTimer"
        interval: root.cacheIntervalMs
        repeat: true
        running: root.onScreen && root.step === 3
        onRunningChanged: if (running) root.cachesCleaned = 0
        // Once every line is clean the demonstration starts over.
        onTriggered: root.cachesCleaned = root.cachesCleaned >= root.sampleCaches.length ? 0 : root.cachesCleaned + 1
    }
    Timer {
        objectName: "sidebarTimer"
        interval: root.sidebarIntervalMs
        repeat: true
        running: root.onScreen && root.step === 4
        onRunningChanged: if (running) root.sidebarIndex = -1
        onTriggered: {
            root.sidebarIndex = (root.sidebarIndex + 1) % root.sidebarSequence.length
            root.pageRequested(root.sidebarSequence[root.sidebarIndex])
        }
    }
    Timer {
        objectName: "popoverTimer"
        interval: root.popoverIntervalMs
        repeat: true
        running: root.onScreen && root.popoverOpen && root.step === root.lastStep
        onTriggered: {
            root.popoverTab = (root.popoverTab + 1) % 5
            root.notifications.post("TourUpdatePopoverTab", { tabIndex: root.popoverTab })
        }
    }

    Keys.onEscapePressed: finish()

    // Clicks do not reach the dashboard below while the tour is up.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }
    Rectangle {
        anchors.fill: parent
        anchors.leftMargin: root.step === 4 ? root.sidebarWidth : 0
        color: Qt.rgba(0, 0, 0, root.theme.isLight ? 0.35 : 0.55)
    }
    // Step 4's pulsing frame around the sidebar it is walking.
    Rectangle {
        visible: root.step === 4 && root.sidebarWidth > 0
        width: root.sidebarWidth
        height: parent.height
        color: "transparent"
        border.width: 3
        border.color: "#30d158"
        SequentialAnimation on border.color {
            running: root.onScreen && root.step === 4
            loops: Animation.Infinite
            ColorAnimation { to: "#0a84ff"; duration: 1250 }
            ColorAnimation { to: "#30d158"; duration: 1250 }
        }
    }

    Rectangle {
        id: card
        objectName: "tourCard"
        readonly property real area: root.width - root.sidebarWidth
        width: Math.min(580, area - 48)
        height: Math.min(body.implicitHeight + 56, root.height - 48)
        x: root.sidebarWidth + (area - width) / 2
        y: (root.height - height) / 2
        radius: 16
        // The theme's card colour is translucent; under it a solid base, so the page below
        // does not show through the tour's text.
        color: root.theme.isLight ? "#ffffff" : "#1c1c1e"
        border.width: 1
        border.color: root.theme.dividerColor
        clip: true
        Rectangle {
            anchors.fill: parent
            radius: parent.radius
            color: root.theme.cardBackground
        }

        ColumnLayout {
            id: body
            anchors.fill: parent
            anchors.margins: 28
            spacing: 14

            Text {
                objectName: "tourProgress"
                text: "STEP " + (root.step + 1) + " OF " + (root.lastStep + 1)
                color: root.theme.secondaryTextColor
                font.pixelSize: 10
                font.weight: Font.Bold
                font.letterSpacing: 1.2
            }
            Text {
                objectName: "tourTitle"
                Layout.fillWidth: true
                text: root.steps[root.step].title
                color: root.theme.textColor
                font.pixelSize: 22
                font.weight: Font.Bold
                wrapMode: Text.WordWrap
            }
            Text {
                objectName: "tourText"
                Layout.fillWidth: true
                text: root.steps[root.step].text
                color: root.theme.secondaryTextColor
                font.pixelSize: 13
                wrapMode: Text.WordWrap
            }
            Loader {
                objectName: "tourContent"
                Layout.fillWidth: true
                Layout.topMargin: 4
                sourceComponent: [welcome, personas, presets, caches, navigation, popover][root.step]
            }
            Item { Layout.fillHeight: true }
            RowLayout {
                Layout.fillWidth: true
                spacing: 10
                TourButton {
                    objectName: "tourBackButton"
                    text: "Back"
                    visible: root.step > 0
                    onClicked: root.back()
                }
                Item { Layout.fillWidth: true }
                TourButton {
                    objectName: "tourSkipButton"
                    text: "Skip"
                    onClicked: root.finish()
                }
                TourButton {
                    id: nextButton
                    objectName: "tourNextButton"
                    text: root.step === root.lastStep ? "Get Started" : "Next"
                    primary: true
                    onClicked: root.next()
                }
            }
        }
    }

    component TourButton: Button {
        id: button
        property bool primary: false
        focusPolicy: Qt.StrongFocus
        Accessible.name: text
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        leftPadding: 16
        rightPadding: 16
        contentItem: Text {
            text: button.text
            color: button.primary ? "white" : root.theme.textColor
            font.pixelSize: 13
            font.weight: Font.DemiBold
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitWidth: 84
            implicitHeight: 32
            radius: 8
            color: button.primary ? root.theme.accentColor
                                  : root.theme.isLight ? Qt.rgba(0, 0, 0, 0.06) : Qt.rgba(1, 1, 1, 0.08)
            opacity: button.down ? 0.75 : 1
            border.width: button.visualFocus ? 2 : 0
            border.color: root.theme.textColor
        }
    }

    Component {
        id: welcome
        Item {
            implicitHeight: 96
            Rectangle {
                anchors.centerIn: parent
                width: 84; height: 84; radius: 22
                color: root.theme.accentColor
                SymbolImage { objectName: "tourLogo"; anchors.centerIn: parent; symbol: "bolt.shield.fill"; side: 48; tint: "white" }
            }
        }
    }

    Component {
        id: personas
        RowLayout {
            spacing: 10
            Repeater {
                model: Services.personas.personas
                PersonaCard {
                    required property string modelData
                    objectName: "tourPersonaCard"
                    Layout.fillWidth: true
                    persona: modelData
                    tint: root.personaTints[modelData] || root.theme.accentColor
                    selected: root.preferences.workspacePersona === modelData
                    onClicked: root.preferences.workspacePersona = modelData
                }
            }
        }
    }

    Component {
        id: presets
        ColumnLayout {
            spacing: 10
            GridLayout {
                Layout.fillWidth: true
                columns: 2
                columnSpacing: 10
                rowSpacing: 10
                Repeater {
                    model: root.samplePresets
                    Rectangle {
                        id: presetCard
                        required property var modelData
                        required property int index
                        readonly property bool lit: index === root.presetIndex
                        objectName: lit ? "tourPresetLit" : "tourPreset"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        implicitHeight: 44
                        radius: 10
                        color: root.theme.isLight ? Qt.rgba(0, 0, 0, 0.04) : Qt.rgba(1, 1, 1, 0.05)
                        border.width: lit ? 1 : 0
                        border.color: modelData.tint
                        // The highlight: the preset's colour washed over the card.
                        Rectangle {
                            anchors.fill: parent
                            radius: parent.radius
                            color: presetCard.modelData.tint
                            opacity: presetCard.lit ? 0.22 : 0
                            Behavior on opacity { NumberAnimation { duration: 250 } }
                        }
                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 12
                            anchors.rightMargin: 12
                            spacing: 10
                            SymbolImage {
                                symbol: presetCard.modelData.symbol
                                tint: presetCard.lit ? presetCard.modelData.tint : root.theme.secondaryTextColor
                                side: 18
                            }
                            Text {
                                Layout.fillWidth: true
                                text: presetCard.modelData.name
                                color: root.theme.textColor
                                font.pixelSize: 13
                                font.weight: presetCard.lit ? Font.Bold : Font.Normal
                                elide: Text.ElideRight
                            }
                        }
                    }
                }
            }
            Text {
                Layout.fillWidth: true
                text: "Toggle profiles directly from the system tray menu."
                color: root.theme.secondaryTextColor
                font.pixelSize: 12
                font.italic: true
                wrapMode: Text.WordWrap
            }
        }
    }

    Component {
        id: caches
        ColumnLayout {
            spacing: 6
            Repeater {
                model: root.sampleCaches
                RowLayout {
                    id: cacheLine
                    required property var modelData
                    required property int index
                    readonly property bool cleaned: index < root.cachesCleaned
                    Layout.fillWidth: true
                    spacing: 10
                    SymbolImage {
                        symbol: cacheLine.cleaned ? "checkmark.circle.fill" : "folder.fill"
                        tint: cacheLine.cleaned ? "#30d158" : root.theme.secondaryTextColor
                        side: 15
                    }
                    Text {
                        Layout.fillWidth: true
                        text: cacheLine.modelData.name
                        color: cacheLine.cleaned ? root.theme.secondaryTextColor : root.theme.textColor
                        font.pixelSize: 12
                        font.strikeout: cacheLine.cleaned
                        elide: Text.ElideRight
                    }
                    Text {
                        text: Format.gb(cacheLine.modelData.gb, 1)
                        color: cacheLine.cleaned ? "#30d158" : root.theme.textColor
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                    }
                }
            }
            Text {
                objectName: "tourReclaimed"
                Layout.fillWidth: true
                Layout.topMargin: 6
                text: "Simulated clean: " + Format.gb(root.reclaimedGB, 1) + " reclaimed"
                color: "#30d158"
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
        }
    }

    Component {
        id: navigation
        ColumnLayout {
            spacing: 12
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "brain.head.profile"; tint: "#bf5af2"
                title: "AI-First Suite"
                text: "Optimize workloads & monitor local AI models (VRAM/Ollama)."
            }
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "gauge"; tint: "#0a84ff"
                title: "System Monitors"
                text: "Track sensors, memory pressure, fan speed, power draw, & network."
            }
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "gearshape.fill"; tint: "#30d158"
                title: "Preferences & System Info"
                text: "Explore detailed hardware specs, configure autostart, & updates."
            }
        }
    }

    Component {
        id: popover
        ColumnLayout {
            spacing: 12
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "bolt.fill"; tint: "#ff9f0a"
                title: "One-Click Optimization"
                text: "Instantly switch presets (AI Mode, Eco, Max Boost) without opening the main window."
            }
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "chart.bar.fill"; tint: "#0a84ff"
                title: "Status Bar Telemetry"
                text: "A glanceable tray icon displaying real-time CPU & memory footprint."
            }
            MenuGuideRow {
                Layout.fillWidth: true
                symbol: "thermometer"; tint: "#ff453a"
                title: "Instant Thermal Controls"
                text: "Monitor fan speeds and key system temperatures on the fly."
            }
        }
    }
}
