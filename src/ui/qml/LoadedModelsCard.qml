import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The models the local model server holds in memory, as it reports them: size, where the
// weights live (GPU, CPU or split), context length and when it will unload each. Each can
// be ejected, or all at once.
Card {
    id: root
    property string emptyText: "No loaded models in unified memory"
    property string ejectHelp: "Safely eject and clear AI model weights from memory instantly"
    readonly property LocalAIService localAI: Services.localAI
    readonly property var models: Services.activeModels
    readonly property int count: models ? models.count : 0
    // The clock the expiry texts count from, moved every 15 s while the card is shown.
    property date now: new Date()
    property bool ejectingAll: false

    objectName: "modelsCard"
    title: "Active Loaded Models"
    symbol: "brain.head.profile"
    tint: "#bf5af2"

    onCountChanged: if (count === 0) ejectingAll = false
    Timer {
        interval: 15000
        repeat: true
        running: root.visible && root.count > 0
        onTriggered: root.now = new Date()
    }
    Timer {
        // An eject the server ignored must not leave the button saying it is still busy.
        id: ejectAllTimeout
        interval: 10000
        onTriggered: root.ejectingAll = false
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        Text {
            objectName: "modelsSummary"
            Layout.fillWidth: true
            text: (root.localAI ? root.localAI.status : "Offline") + " · " + root.count + " Loaded"
            color: root.theme.secondaryTextColor
            font.pixelSize: 11
            elide: Text.ElideRight
        }
        RunningButton {
            objectName: "ejectAllButton"
            text: "Eject All"
            runningText: "Ejecting…"
            running: root.ejectingAll
            symbol: "eject.fill"
            tint: "#ff453a"
            enabled: root.count > 0 && !root.ejectingAll
            compact: true
            onClicked: {
                root.ejectingAll = true
                ejectAllTimeout.restart()
                root.localAI.ejectAll()
            }
        }
    }

    RowLayout {
        objectName: "modelsEmpty"
        Layout.fillWidth: true
        visible: root.count === 0
        spacing: 8
        SymbolImage { symbol: "brain.head.profile"; tint: root.theme.secondaryTextColor; side: 18 }
        Text {
            Layout.fillWidth: true
            text: root.emptyText
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
    }

    Repeater {
        model: root.models
        delegate: ColumnLayout {
            id: row
            required property string name
            required property string parameterSize
            required property double sizeInGB
            required property string format
            required property string quantization
            required property string residency
            required property double contextLength
            required property date expiresAt
            property bool ejecting: false
            objectName: "modelRow"
            Layout.fillWidth: true
            spacing: 3

            Timer { id: ejectTimeout; interval: 10000; onTriggered: row.ejecting = false }

            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    objectName: "modelName"
                    Layout.fillWidth: true
                    text: row.name
                    color: root.theme.textColor
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "modelSize"
                    text: Format.gb(row.sizeInGB)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                }
                BusyIndicator {
                    visible: row.ejecting
                    running: row.ejecting
                    Layout.preferredWidth: 18
                    Layout.preferredHeight: 18
                }
                RowButton {
                    objectName: "ejectButton"
                    visible: !row.ejecting
                    symbol: "eject.fill"
                    tint: "#ff453a"
                    help: root.ejectHelp
                    Accessible.name: "Eject " + row.name
                    focusPolicy: Qt.StrongFocus
                    onClicked: {
                        row.ejecting = true
                        ejectTimeout.restart()
                        root.localAI.ejectModel(row.name)
                    }
                }
            }
            Flow {
                Layout.fillWidth: true
                spacing: 5
                Text {
                    text: row.parameterSize
                    color: root.theme.secondaryTextColor
                    font.pixelSize: 10
                    height: 16
                    verticalAlignment: Text.AlignVCenter
                }
                Badge { text: row.format.toUpperCase(); tint: "#0a84ff" }
                Badge { text: row.quantization; tint: "#ff9f0a" }
                Badge { objectName: "residency"; visible: row.residency.length > 0; text: row.residency; tint: "#30d158" }
            }
            Text {
                objectName: "modelDetails"
                Layout.fillWidth: true
                readonly property string expiry: { root.now; return Format.modelExpiry(row.expiresAt) }
                text: [row.contextLength > 0 ? "Context " + row.contextLength + " tokens" : "",
                       expiry.length > 0 ? "Unloads: " + expiry : ""].filter(s => s.length > 0).join(" · ")
                visible: text.length > 0
                color: root.theme.secondaryTextColor
                font.pixelSize: 10
                elide: Text.ElideRight
            }
        }
    }
}
