import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard's AI models page: the loaded models, the installed ones with where each
// would run if loaded now, the AI back ends running, and the two model stores with the
// deduplicator, which links weights stored twice instead of deleting either copy.
DashboardPage {
    id: page
    readonly property BuildCacheService buildCaches: Services.buildCaches
    readonly property real cachedGB: buildCaches.huggingfaceCacheSizeGB + buildCaches.ollamaCacheSizeGB
    // True from the press until the search or the linking ends.
    property bool linking: false

    heading: "AI Models & System Cache"
    caption: "Models the local server holds, the back ends running, and the weights on disk."
    tipsTitle: "Model Storage Tips"
    tips: [
        "Ollama and the Hugging Face hub each keep their own copy of the same GGUF weights; deduplicating links one to the other and loses neither.",
        "Eject models you are not using: a loaded model keeps its weights in memory until its keep-alive ends.",
        "A keep-alive of -1 holds a model forever; set OLLAMA_KEEP_ALIVE to a few minutes on machines you also compile on.",
        "Old quantisations of a model you have replaced can be deleted from the AI tab's cache cleaner."
    ]

    Connections {
        target: page.buildCaches
        function onDuplicateWeightsFound() {
            if (page.buildCaches.duplicateWeights.length > 0) {
                page.linking = false
                confirmLink.open()
            } else {
                page.linking = false
            }
        }
        function onDeduplicationFinished() { page.linking = false }
    }

    SandboxNote { Layout.fillWidth: true }

    LoadedModelsCard {
        Layout.fillWidth: true
        emptyText: "No active models loaded in memory"
        ejectHelp: "Eject model context and clear GPU memory instantly"
    }
    InstalledModelsCard { Layout.fillWidth: true }
    AIProcessesCard { Layout.fillWidth: true }

    Card {
        objectName: "dedupeCard"
        Layout.fillWidth: true
        title: "Local Model & Cache Deduplicator"
        symbol: "shippingbox.fill"
        tint: "#bf5af2"
        Text {
            objectName: "cachedTotal"
            text: Format.gb(page.cachedGB) + " Cached"
            color: page.theme.textColor
            font.pixelSize: 15
            font.weight: Font.DemiBold
        }
        CacheRowSmall {
            objectName: "hubRow"
            Layout.fillWidth: true
            title: "Hugging Face Hub Weights"
            path: Format.homeRelative(page.buildCaches.huggingFaceHubPath)
            sizeText: Format.gb(page.buildCaches.huggingfaceCacheSizeGB)
        }
        CacheRowSmall {
            objectName: "ollamaRow"
            Layout.fillWidth: true
            title: "Ollama Model Registries"
            path: Format.homeRelative(page.buildCaches.ollamaModelsPath)
            sizeText: Format.gb(page.buildCaches.ollamaCacheSizeGB)
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            RunningButton {
                objectName: "deduplicateButton"
                text: "Deduplicate"
                runningText: page.buildCaches.duplicateWeights.length > 0 ? "Linking duplicates…" : "Looking for duplicates…"
                running: page.linking || page.buildCaches.deduplicating
                symbol: "doc.on.doc"
                onClicked: {
                    page.linking = true
                    page.buildCaches.findDuplicateWeights()
                }
            }
            Text {
                objectName: "dedupeMessage"
                Layout.fillWidth: true
                text: page.buildCaches.deduplicationMessage
                visible: text.length > 0
                color: page.theme.secondaryTextColor
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }
        }
    }

    Dialog {
        id: confirmLink
        objectName: "confirmLink"
        modal: true
        focus: true
        anchors.centerIn: Overlay.overlay
        width: Math.min(520, Overlay.overlay ? Overlay.overlay.width - 40 : 520)
        title: "Link duplicate weights?"
        closePolicy: Popup.CloseOnEscape
        standardButtons: Dialog.Cancel
        onAccepted: {
            page.linking = true
            page.buildCaches.deduplicateWeights()
        }
        footer: DialogButtonBox {
            Button {
                objectName: "linkButton"
                text: "Link " + Format.size(page.buildCaches.duplicateBytes)
                DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            }
            Button {
                text: "Cancel"
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
        contentItem: ColumnLayout {
            spacing: 8
            Label {
                objectName: "linkQuestion"
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                text: "These files hold the same weights in both stores. Each copy on the left is replaced by a link to the one on the right, reclaiming "
                      + Format.size(page.buildCaches.duplicateBytes) + ". Both paths keep working."
            }
            Repeater {
                model: page.buildCaches.duplicateWeights
                Label {
                    required property var modelData
                    Layout.fillWidth: true
                    elide: Text.ElideMiddle
                    font.pixelSize: 11
                    font.family: "monospace"
                    text: Format.homeRelative(modelData.replacedPath) + " → " + Format.homeRelative(modelData.keptPath)
                          + " (" + Format.size(modelData.size) + ")"
                }
            }
        }
    }
}
