import QtQuick
import QtQuick.Layouts
import Quillmoor

// The AI tab's telemetry: the sandbox switch, the neural engine, memory as the models see
// it, the loaded models and the AI back ends running now.
ColumnLayout {
    id: root
    readonly property LocalAIService localAI: Services.localAI
    readonly property ThemeManager theme: Services.theme
    spacing: 8

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        SymbolImage { symbol: "network.badge.shield.half.filled"; tint: root.theme.accentColor; side: 14 }
        CheckboxToggleStyle {
            objectName: "demoSwitch"
            Layout.fillWidth: true
            label: "Offline Developer Sandbox"
            on: root.localAI.demoMode
            onSwitched: (value) => root.localAI.demoMode = value
        }
    }
    NeuralEngineCard { Layout.fillWidth: true; padding: 12 }
    UnifiedVramCard { Layout.fillWidth: true; padding: 12 }
    LoadedModelsCard { Layout.fillWidth: true; padding: 12 }
    AIProcessesCard { Layout.fillWidth: true; padding: 12; sampleWhenEmpty: true }
}
