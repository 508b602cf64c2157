import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The presets screen: the active preset, a card per preset, what the active one modifies,
// and a log of what this screen asked for and what the engine answered.
ColumnLayout {
    id: root
    readonly property PresetManager presetManager: Services.presets
    readonly property ThemeManager theme: Services.theme
    spacing: 12

    property var executionLogs: ["macOS watchdog kernel daemon active.", "Awaiting target performance selection...",
                                 "Current profile: Vanilla Mac"]
    // Presets asked for and not yet reported applied, in order.
    property var pending: []

    readonly property var presetColors: ({
        "Inference Max": "#bf5af2", "Local Training": "#ff9f0a", "Compile Max": "#ffd60a",
        "Creative Max": "#ff375f", "Game Mode": "#64d2ff", "Eco Dev": "#30d158", "Vanilla Mac": "#0a84ff"
    })
    readonly property performancePreset active: {
        const all = presetManager.allPresets
        for (let i = 0; i < all.length; ++i)
            if (all[i].name === presetManager.activePreset)
                return all[i]
        return all[all.length - 1]
    }

    function appendLog(line) {
        executionLogs = executionLogs.concat([line])
    }
    function apply(name) {
        appendLog("Applying " + name + " system properties...")
        pending = pending.concat([name])
        presetManager.applyPreset(name)
    }
    function modifier(condition, on, off) { return root.presetManager.activePreset === condition ? on : off }

    Connections {
        target: root.presetManager
        function onPresetApplied(name) {
            const at = root.pending.indexOf(name)
            if (at < 0)
                return
            const rest = root.pending.slice()
            rest.splice(at, 1)
            root.pending = rest
            root.appendLog(root.presetManager.currentStatus)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        SymbolImage { symbol: "bolt.shield.fill"; tint: root.theme.accentColor; side: 14 }
        Text { text: "PERFORMANCE PROFILE CONFIGURATOR"; color: root.theme.textColor; font.pixelSize: 11; font.weight: Font.Bold }
        Item { Layout.fillWidth: true }
        BusyIndicator {
            objectName: "executingIndicator"
            visible: root.presetManager.isExecuting
            running: visible
            Layout.preferredWidth: 14
            Layout.preferredHeight: 14
        }
        Rectangle {
            objectName: "activeBadge"
            visible: !root.presetManager.isExecuting
            radius: 4
            color: Qt.rgba(Qt.color(root.theme.accentColor).r, Qt.color(root.theme.accentColor).g, Qt.color(root.theme.accentColor).b, 0.15)
            implicitWidth: badge.implicitWidth + 12
            implicitHeight: badge.implicitHeight + 4
            Text {
                id: badge
                anchors.centerIn: parent
                text: "Active Profile: " + root.presetManager.activePreset
                color: root.theme.accentColor
                font.pixelSize: 8
                font.weight: Font.Bold
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        Rectangle {
            width: 34; height: 34; radius: 17
            color: Qt.rgba(Qt.color(root.presetColors[root.active.name]).r, Qt.color(root.presetColors[root.active.name]).g,
                           Qt.color(root.presetColors[root.active.name]).b, 0.2)
            SymbolImage { anchors.centerIn: parent; symbol: root.active.icon; tint: root.presetColors[root.active.name]; side: 16 }
        }
        ColumnLayout {
            spacing: 1
            Layout.fillWidth: true
            Text { objectName: "activeName"; text: root.active.name; color: root.theme.textColor; font.pixelSize: 12; font.weight: Font.Bold }
            Text {
                text: root.active.description
                color: root.theme.secondaryTextColor
                font.pixelSize: 9
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }
    }

    GridLayout {
        objectName: "presetGrid"
        Layout.fillWidth: true
        columns: 2
        columnSpacing: 10
        rowSpacing: 10
        Repeater {
            model: Services.allPresets
            AbstractButton {
                id: card
                // The record's fields through `model`: a button has an icon of its own.
                required property var model
                readonly property string name: model.name
                objectName: "presetCard"
                Accessible.name: name
                readonly property bool isActive: name === root.presetManager.activePreset
                readonly property color tint: root.presetColors[name]
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                implicitHeight: 64
                hoverEnabled: true
                onClicked: root.apply(name)
                background: Rectangle {
                    radius: 10
                    color: root.theme.cardBackground
                    border.width: card.isActive ? 1 : 0
                    border.color: card.tint
                    opacity: card.hovered ? 0.9 : 1
                }
                contentItem: RowLayout {
                    spacing: 8
                    SymbolImage { symbol: card.model.icon; tint: card.tint; side: 16; Layout.alignment: Qt.AlignTop; Layout.topMargin: 2 }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Text { text: card.name; color: root.theme.textColor; font.pixelSize: 11; font.weight: Font.Bold }
                        Text {
                            text: card.model.description
                            color: root.theme.secondaryTextColor
                            font.pixelSize: 9
                            wrapMode: Text.Wrap
                            maximumLineCount: 3
                            elide: Text.ElideRight
                            Layout.fillWidth: true
                        }
                    }
                    Item {
                        Layout.preferredWidth: 12
                        Layout.preferredHeight: 12
                        Layout.alignment: Qt.AlignTop
                        SymbolImage { objectName: "activeCheck"; visible: card.isActive; symbol: "checkmark.circle.fill"; tint: card.tint; side: 12 }
                        Rectangle {
                            visible: !card.isActive
                            anchors.fill: parent
                            radius: 6
                            color: "transparent"
                            border.color: Qt.rgba(Qt.color(root.theme.textColor).r, Qt.color(root.theme.textColor).g, Qt.color(root.theme.textColor).b, 0.2)
                        }
                    }
                }
                leftPadding: 10; rightPadding: 10; topPadding: 8; bottomPadding: 8
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10
        ColumnLayout {
            objectName: "modifiersPanel"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            Layout.alignment: Qt.AlignTop
            spacing: 5
            Text { text: "HARDWARE MODIFIERS"; color: root.theme.secondaryTextColor; font.pixelSize: 8; font.weight: Font.Bold }
            Repeater {
                model: [
                    { label: "Turbofan Maximum Override", value: root.modifier("Inference Max", "ACTIVE (SMC KEY)", "AUTO") },
                    { label: "Caffeinate Display/Disk Sleep", value: root.modifier("Local Training", "ACTIVE (NO SHUTDOWN)", "AUTO") },
                    { label: "AI Helpers (Ollama, Conda)", value: root.modifier("Eco Dev", "SUSPENDED (SIGSTOP)", "NORMAL") },
                    { label: "Compiler Priority Level", value: root.modifier("Local Training", "HIGH (NICE -5)", "DEFAULT") }
                ]
                TelemetryRow {
                    required property var modelData
                    objectName: "modifierRow"
                    Layout.fillWidth: true
                    label: modelData.label
                    value: modelData.value
                    labelColor: root.theme.secondaryTextColor
                    valueColor: root.theme.textColor
                }
            }
        }
        ColumnLayout {
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            Layout.alignment: Qt.AlignTop
            spacing: 5
            Text { text: "DAEMON EXECUTIONS"; color: root.theme.secondaryTextColor; font.pixelSize: 8; font.weight: Font.Bold }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 62 + 12
                radius: 6
                color: Qt.rgba(Qt.color(root.theme.textColor).r, Qt.color(root.theme.textColor).g, Qt.color(root.theme.textColor).b, 0.06)
                ListView {
                    id: log
                    objectName: "executionLog"
                    anchors.fill: parent
                    anchors.margins: 6
                    clip: true
                    model: root.executionLogs
                    onCountChanged: positionViewAtEnd()
                    delegate: Row {
                        required property string modelData
                        width: log.width
                        spacing: 4
                        Text { text: "$"; color: root.theme.accentColor; font.pixelSize: 8; font.family: "monospace" }
                        Text {
                            text: parent.modelData
                            width: parent.width - 10
                            elide: Text.ElideRight
                            color: root.theme.textColor
                            opacity: 0.8
                            font.pixelSize: 8
                            font.family: "monospace"
                        }
                    }
                }
            }
        }
    }
}
