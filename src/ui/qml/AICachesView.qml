import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The AI tab's caches: large model files, the Swift build caches and redundant SDK
// runtimes, each deleted only after a confirmation that names it and its size.
ColumnLayout {
    id: root
    readonly property LocalAIService localAI: Services.localAI
    readonly property BuildCacheService buildCaches: Services.buildCaches
    readonly property ThemeManager theme: Services.theme
    readonly property real modelFilesGB: {
        let total = 0
        const files = localAI ? localAI.cachedModelFiles : []
        for (let i = 0; i < files.length; ++i)
            total += files[i].sizeInGB
        return total
    }
    // What the model service said about the deletion the user asked for (a refusal, say).
    property string modelMessage
    property bool awaitingModelDelete: false
    spacing: 8

    function cacheRow(key) {
        const rows = buildCaches ? buildCaches.cacheRows : []
        for (let i = 0; i < rows.length; ++i)
            if (rows[i].key === key)
                return rows[i]
        return null
    }

    Connections {
        target: root.localAI
        function onLogged(line) {
            if (root.awaitingModelDelete)
                root.modelMessage = line
        }
        function onCachedModelFilesChanged() { root.awaitingModelDelete = false }
    }
    Timer { id: deleteWindow; interval: 10000; onTriggered: root.awaitingModelDelete = false }

    ConfirmDeleteDialog { id: confirm }

    Card {
        objectName: "modelCacheCard"
        Layout.fillWidth: true
        padding: 12
        title: "Local Model Cache Cleaner"
        symbol: "shippingbox.fill"
        tint: "#bf5af2"
        Text {
            objectName: "modelCacheTotal"
            text: Format.gb(root.modelFilesGB) + " Total"
            color: root.theme.textColor
            font.pixelSize: 13
            font.weight: Font.DemiBold
        }
        Text {
            Layout.fillWidth: true
            visible: Services.cachedModelFiles.count === 0
            text: "Model cache is completely clean"
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
        }
        Repeater {
            model: Services.cachedModelFiles
            delegate: ColumnLayout {
                id: fileRow
                required property string name
                required property string path
                required property string type
                required property double sizeInGB
                required property var size
                objectName: "modelFileRow"
                Layout.fillWidth: true
                spacing: 2
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    Text {
                        Layout.fillWidth: true
                        text: fileRow.name
                        color: root.theme.textColor
                        font.pixelSize: 11
                        elide: Text.ElideMiddle
                    }
                    RowButton {
                        objectName: "deleteModelFile"
                        symbol: "trash.fill"
                        tint: "#ff453a"
                        help: "Delete " + fileRow.name
                        focusPolicy: Qt.StrongFocus
                        onClicked: {
                            const file = fileRow.path
                            confirm.ask(file, Number(fileRow.size), () => {
                                root.modelMessage = ""
                                root.awaitingModelDelete = true
                                deleteWindow.restart()
                                root.localAI.purgeModelCacheFile(file)
                            })
                        }
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    Badge { text: fileRow.type; tint: fileRow.type === "Ollama" ? "#bf5af2" : "#ffd60a" }
                    Item { Layout.fillWidth: true }
                    Text {
                        objectName: "modelFileSize"
                        text: Format.gb(fileRow.sizeInGB, 2)
                        color: root.theme.textColor
                        font.pixelSize: 11
                        font.family: "monospace"
                    }
                }
            }
        }
        Text {
            objectName: "modelMessage"
            Layout.fillWidth: true
            visible: root.modelMessage.length > 0
            text: root.modelMessage
            color: "#ff9f0a"
            font.pixelSize: 11
            wrapMode: Text.WordWrap
        }
    }

    Card {
        objectName: "buildCacheCard"
        Layout.fillWidth: true
        padding: 12
        title: "Build Cache Cleaner"
        symbol: "folder.fill"
        tint: "#0a84ff"
        Repeater {
            model: [
                { key: "derivedDataSize", title: "Xcode DerivedData", button: "Purge Xcode" },
                { key: "spmCacheSize", title: "Swift Packages", button: "Purge SPM" }
            ]
            delegate: ColumnLayout {
                id: buildRow
                required property var modelData
                readonly property var info: { root.buildCaches.cacheRows; return root.cacheRow(modelData.key) }
                readonly property real bytes: info ? info.sizeBytes : 0
                readonly property bool purging: root.buildCaches.purging.indexOf(modelData.key) >= 0
                objectName: "buildCacheRow"
                // Xcode's folder exists only on a Mac; elsewhere the row would be a figure
                // of nothing.
                visible: !!info && info.onThisPlatform === true
                Layout.fillWidth: true
                spacing: 2
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    Text {
                        Layout.fillWidth: true
                        text: buildRow.modelData.title
                        color: root.theme.textColor
                        font.pixelSize: 12
                        elide: Text.ElideRight
                    }
                    Text {
                        objectName: "buildCacheSize"
                        text: Format.gb(buildRow.bytes / 1073741824, 2)
                        color: root.theme.textColor
                        font.pixelSize: 11
                        font.family: "monospace"
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 6
                    Text {
                        Layout.fillWidth: true
                        text: buildRow.info ? Format.homeRelative(buildRow.info.location) : ""
                        color: root.theme.secondaryTextColor
                        font.pixelSize: 9
                        font.family: "monospace"
                        elide: Text.ElideMiddle
                    }
                    RunningButton {
                        objectName: "purgeBuildCache"
                        text: buildRow.modelData.button
                        runningText: "Purging…"
                        running: buildRow.purging
                        enabled: !buildRow.purging && buildRow.bytes > 0
                        compact: true
                        onClicked: {
                            const key = buildRow.modelData.key
                            confirm.ask(buildRow.info.location, buildRow.bytes,
                                        () => key === "derivedDataSize" ? root.buildCaches.purgeDerivedData() : root.buildCaches.purgeSPMCache())
                        }
                    }
                }
            }
        }
    }

    Card {
        objectName: "sdkCard"
        Layout.fillWidth: true
        padding: 12
        title: "Redundant SDK Runtime Auditor"
        symbol: "terminal"
        tint: "#ff9f0a"
        Text {
            Layout.fillWidth: true
            visible: Services.foundSDKVersions.count === 0
            text: "No redundant developer toolchains found"
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
            wrapMode: Text.WordWrap
        }
        Repeater {
            model: Services.foundSDKVersions
            delegate: RowLayout {
                required property string name
                required property string version
                required property string manager
                required property string path
                required property double sizeInMB
                required property var sizeBytes
                objectName: "sdkRow"
                Layout.fillWidth: true
                spacing: 6
                Text {
                    Layout.fillWidth: true
                    text: parent.name + " " + parent.version
                    color: root.theme.textColor
                    font.pixelSize: 11
                    elide: Text.ElideRight
                }
                Badge { text: parent.manager; tint: "#ff9f0a" }
                Text {
                    text: Format.mb(parent.sizeInMB)
                    color: root.theme.textColor
                    font.pixelSize: 11
                    font.family: "monospace"
                }
                RowButton {
                    objectName: "deleteSdk"
                    symbol: "trash"
                    tint: "#ff453a"
                    help: "Delete " + parent.name + " " + parent.version
                    focusPolicy: Qt.StrongFocus
                    onClicked: {
                        const where = parent.path
                        confirm.ask(where, Number(parent.sizeBytes), () => root.buildCaches.purgeSDKVersion(where))
                    }
                }
            }
        }
    }
}
