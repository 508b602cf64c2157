import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// One process in a list: its icon, name, the ask-AI button, the freeze button and its
// figure. The explanation is fetched the first time the popover opens and kept for the
// life of the row.
Item {
    id: root
    property string symbol: "app.fill"  // used when there is no application image
    property string image               // theme icon name or file path; empty: none
    property string processName         // what the co-pilot is asked about
    property string label: processName   // what the row shows: the name or the full path
    property string value
    property color color: "#0a84ff"
    property bool suspended: false
    property bool canToggleSuspend: false
    property bool advancedMode: false
    property string help
    readonly property ThemeManager theme: Services.theme
    readonly property AIService aiService: Services.aiService
    signal toggleSuspend()

    property var aiExplanation: null
    property bool isLoadingAI: false
    property int explanationRequests: 0
    readonly property bool explanationShown: insightLoader.item !== null && insightLoader.item.opened
    readonly property color textColor: theme ? theme.textColor : "white"

    implicitHeight: 24
    implicitWidth: 280

    function toggleExplanation() {
        if (explanationShown) {
            insightLoader.item.close()
            return
        }
        insightLoader.active = true
        insightLoader.item.open()
        if (aiExplanation === null && !isLoadingAI && aiService) {
            isLoadingAI = true
            explanationRequests += 1
            aiService.explainProcess(processName)
        }
    }

    Connections {
        target: root.aiService
        function onProcessExplained(processName, explanation) {
            if (root.isLoadingAI && processName === root.processName) {
                root.aiExplanation = explanation
                root.isLoadingAI = false
            }
        }
    }

    // A list view that reuses this row for another process: the old one's answer and
    // open insight do not belong to the new one.
    ListView.onReused: {
        if (explanationShown)
            insightLoader.item.close()
        aiExplanation = null
        isLoadingAI = false
    }

    HoverHandler { id: rowHover }
    ToolTip.visible: rowHover.hovered && help.length > 0 && !root.explanationShown
    ToolTip.text: help
    ToolTip.delay: 1200

    RowLayout {
        anchors.fill: parent
        spacing: 6

        Item {
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            Image {
                objectName: "processImage"
                anchors.centerIn: parent
                visible: root.image.length > 0
                width: 16; height: 16
                sourceSize: Qt.size(16 * Screen.devicePixelRatio, 16 * Screen.devicePixelRatio)
                source: root.image.length > 0 ? "image://appicon/" + encodeURIComponent(root.image) : ""
                fillMode: Image.PreserveAspectFit
            }
            SymbolImage {
                objectName: "processSymbol"
                anchors.centerIn: parent
                visible: root.image.length === 0
                symbol: root.symbol
                tint: root.color
                side: 14
            }
        }
        Text {
            objectName: "processName"
            text: root.label
            color: root.suspended ? "#0a84ff" : root.textColor
            font.pixelSize: 12
            font.weight: Font.Medium
            elide: Text.ElideMiddle
            maximumLineCount: 1
            Layout.fillWidth: true
            Layout.minimumWidth: 40
        }
        RowButton {
            objectName: "askAIButton"
            symbol: "sparkles"
            tint: "#bf5af2"
            help: "Ask AI what this process does"
            onClicked: root.toggleExplanation()
        }
        RowButton {
            objectName: "freezeButton"
            visible: root.canToggleSuspend
            symbol: root.suspended ? "play.fill" : "snowflake"
            tint: root.suspended ? "#30d158" : "#64d2ff"
            help: root.suspended ? "Resume Process" : "Freeze Process to save battery"
            onClicked: root.toggleSuspend()
        }
        // Made only in advanced mode: most rows never show it, and rows come and go as the
        // ranking changes.
        Loader {
            objectName: "priorityBadge"
            visible: root.advancedMode
            active: root.advancedMode
            sourceComponent: Rectangle {
                implicitWidth: badgeText.implicitWidth + 4
                implicitHeight: badgeText.implicitHeight + 4
                radius: 4
                color: Qt.rgba(1, 1, 1, 0.1)
                Text {
                    id: badgeText
                    anchors.centerIn: parent
                    text: "P0"
                    color: root.textColor
                    font.pixelSize: 8
                    font.weight: Font.Bold
                }
                HoverHandler { id: badgeHover }
                ToolTip.visible: badgeHover.hovered
                ToolTip.text: "Process Niceness / Priority"
            }
        }
        Text {
            objectName: "processValue"
            text: root.suspended ? "FROZEN" : root.value
            color: root.suspended ? "#64d2ff" : root.textColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
            font.family: "monospace"
            horizontalAlignment: Text.AlignRight
            Layout.minimumWidth: 52
        }
    }

    // The insight popup is made the first time it is asked for, then kept with its answer.
    Loader {
        id: insightLoader
        active: false
        sourceComponent: Component {
            Popup {
                id: insight
                objectName: "insightPopup"
                parent: root
                y: root.height + 2
                x: Math.max(0, root.width - width)
                width: Math.min(260, root.width)
                padding: 10
                background: Rectangle {
                    radius: 8
                    color: root.theme ? root.theme.cardBackground : "#2c2c2e"
                    border.color: root.theme ? root.theme.dividerColor : "#444"
                }
                contentItem: Column {
                    spacing: 6
                    Row {
                        spacing: 4
                        SymbolImage { symbol: "sparkles"; tint: "#bf5af2"; side: 12 }
                        Text { text: "AI Insight"; color: root.textColor; font.pixelSize: 11; font.weight: Font.Bold }
                    }
                    BusyIndicator {
                        visible: root.isLoadingAI
                        running: visible
                        width: 18; height: 18
                    }
                    Text {
                        objectName: "insightText"
                        visible: !root.isLoadingAI && root.aiExplanation !== null
                        width: insight.availableWidth
                        text: root.aiExplanation === null ? "" : root.aiExplanation
                        wrapMode: Text.Wrap
                        color: root.textColor
                        font.pixelSize: 11
                    }
                }
            }
        }
    }
}
