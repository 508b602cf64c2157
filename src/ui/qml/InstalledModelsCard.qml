import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The models the local server has installed and where each would run if loaded now: in
// the GPU, split between GPU and CPU, on the CPU only, or not at all. The need is the size
// of the model's files, an estimate (a longer context needs more), judged against the
// memory free now plus what the loaded models would give back.
Card {
    id: root
    readonly property LocalAIService localAI: Services.localAI
    readonly property var models: Services.installedModels
    readonly property int count: models ? models.count : 0
    readonly property bool offline: !localAI || localAI.status === "Offline"
    readonly property bool sample: localAI !== null && localAI.demoMode
    readonly property real gpuBudget: localAI ? localAI.fitGpuBudget : -1
    readonly property real ramBudget: localAI ? localAI.fitRamBudget : -1

    objectName: "installedCard"
    title: "Installed Models: What Will Fit"
    symbol: "memorychip"
    tint: "#30d158"

    // Each wrapped text sits in a row: a column lays a wrapped text out at the height it had
    // on one line, and the next overlaps it.
    RowLayout {
        Layout.fillWidth: true
        visible: root.offline
        Text {
            objectName: "installedOffline"
            Layout.fillWidth: true
            text: "Ollama is not running. Start it (ollama serve) to see the installed models and what will fit in memory now."
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }
    RowLayout {
        Layout.fillWidth: true
        visible: !root.offline
        Text {
            objectName: "fitBasis"
            Layout.fillWidth: true
            text: {
                if (root.ramBudget < 0)
                    return "No memory figures yet: the verdicts come with the first sample."
                const ram = Format.size(root.ramBudget) + " of system memory"
                const basis = root.gpuBudget >= 0 ? Format.size(root.gpuBudget) + " of GPU memory and " + ram
                                                  : ram + " (no GPU memory figure from a driver)"
                return (root.sample ? "Judged against the sample machine: " : "Judged against ") + basis
                       + " free, counting what the loaded models would release."
            }
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }
    RowLayout {
        Layout.fillWidth: true
        visible: !root.offline
        Text {
            objectName: "fitNote"
            Layout.fillWidth: true
            text: "≈ Each need is an estimate from the model's file size; a longer context needs more."
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }
    RowLayout {
        Layout.fillWidth: true
        visible: !root.offline && root.count === 0
        Text {
            objectName: "installedEmpty"
            Layout.fillWidth: true
            text: "No models installed. Pull one with ollama pull."
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        visible: !root.offline
        spacing: 8
        Repeater {
            model: root.models
            delegate: RowLayout {
                id: row
                required property string name
                required property string parameterSize
                required property string quantization
                required property string family
                required property double size
                required property bool loaded
                required property bool remote
                required property string fit
                objectName: "installedRow"
                Layout.fillWidth: true
                spacing: 8

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 2
                    Text {
                        objectName: "installedName"
                        Layout.fillWidth: true
                        text: row.name
                        color: root.theme.textColor
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        elide: Text.ElideRight
                    }
                    Text {
                        objectName: "installedDetails"
                        Layout.fillWidth: true
                        text: [row.parameterSize, row.quantization, row.family].filter(s => s.length > 0).join(" · ")
                        visible: text.length > 0
                        color: root.theme.secondaryTextColor
                        font.pixelSize: 10
                        elide: Text.ElideRight
                    }
                }
                Badge { objectName: "loadedBadge"; visible: row.loaded; text: "LOADED"; tint: "#bf5af2" }
                Badge { visible: row.remote; text: "REMOTE"; tint: "#8e8e93" }
                Text {
                    objectName: "installedSize"
                    text: Format.estimate(Format.size(row.size), false)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                }
                FitBadge {
                    objectName: "fitBadge"
                    visible: row.fit.length > 0
                    verdict: row.fit
                    Layout.preferredWidth: 118
                }
            }
        }
    }
}
