import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The popover's AI tab: the model server's state, and four sub-pages of the local AI
// workspace. Only the selected sub-page exists, so the latency probe and the cache scanner
// start only when their sub-page is first opened.
ColumnLayout {
    id: root
    objectName: "aiTab"
    readonly property LocalAIService localAI: Services.localAI
    readonly property ThemeManager theme: Services.theme
    property int selectedSubTab: 0
    readonly property var subTabs: [
        { title: "Telemetry", symbol: "chart.bar.xaxis" },
        { title: "Optimizer", symbol: "bolt.fill" },
        { title: "Caches", symbol: "trash.fill" },
        { title: "Servers", symbol: "network" }
    ]
    readonly property string status: localAI ? localAI.status : "Offline"
    readonly property color statusColor: status === "Active" ? "#30d158" : status === "Idle" ? "#ff9f0a" : "#ff453a"
    spacing: 8

    RowLayout {
        Layout.fillWidth: true
        spacing: 6
        SymbolImage { symbol: "sparkles"; tint: "#bf5af2"; side: 14 }
        Text {
            objectName: "aiTitle"
            Layout.fillWidth: true
            text: "LOCAL AI MONITOR"
            color: root.theme.textColor
            font.pixelSize: 12
            font.weight: Font.Bold
            font.letterSpacing: 1
            elide: Text.ElideRight
        }
        Badge {
            objectName: "sandboxBadge"
            visible: root.localAI !== null && root.localAI.demoMode
            text: "SAMPLE"
            tint: "#ff9f0a"
        }
        Badge { objectName: "statusBadge"; text: root.status; tint: root.statusColor }
    }

    // A stopped server, one that errs and one that hangs all read Offline; the reason, on a
    // line of its own so the title stays whole, says which.
    Text {
        objectName: "statusReason"
        Layout.fillWidth: true
        visible: root.status === "Offline" && text !== ""
        text: root.localAI ? root.localAI.statusReason : ""
        horizontalAlignment: Text.AlignRight
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        elide: Text.ElideRight
    }

    RowLayout {
        objectName: "subTabBar"
        Layout.fillWidth: true
        spacing: 3
        Repeater {
            model: root.subTabs
            SubTabButton {
                required property var modelData
                required property int index
                objectName: "subTab"
                Layout.fillWidth: true
                title: modelData.title
                symbol: modelData.symbol
                selected: root.selectedSubTab === index
                onClicked: root.selectedSubTab = index
                Keys.onReturnPressed: root.selectedSubTab = index
                Keys.onEnterPressed: root.selectedSubTab = index
                Keys.onRightPressed: root.selectedSubTab = (index + 1) % root.subTabs.length
                Keys.onLeftPressed: root.selectedSubTab = (index + root.subTabs.length - 1) % root.subTabs.length
            }
        }
    }

    ScrollView {
        id: scroller
        objectName: "subPageScroller"
        Layout.fillWidth: true
        Layout.fillHeight: true
        contentWidth: availableWidth
        clip: true
        focusPolicy: Qt.NoFocus
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        Loader {
            id: subPage
            objectName: "subPage"
            // A sliver on the right for the scroll bar, which overlays while it is used.
            width: scroller.availableWidth - 4
            sourceComponent: [telemetry, optimizer, caches, servers][root.selectedSubTab]
        }
    }

    Component { id: telemetry; AITelemetryView {} }
    Component { id: optimizer; AIOptimizerView {} }
    Component { id: caches; AICachesView {} }
    Component { id: servers; AIServersView {} }
}
