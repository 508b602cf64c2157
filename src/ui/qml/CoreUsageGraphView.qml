import QtQuick
import QtQuick.Layouts
import Quillmoor

// The two clusters on a card: each cluster's load and one bar per core, filled with that
// core's measured load.
Rectangle {
    id: root
    readonly property SystemStatsProvider stats: Services.stats
    readonly property ThemeManager theme: Services.theme
    radius: 10
    color: theme.cardBackground
    implicitHeight: column.implicitHeight + 20

    function coresOf(efficiency) {
        const loads = stats.perCoreUsage
        const flags = stats.efficiencyCores
        const picked = []
        for (let i = 0; i < loads.length; ++i)
            if ((i < flags.length && flags[i]) === efficiency)
                picked.push(loads[i])
        return picked
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 10
        spacing: 8
        Repeater {
            model: [
                { title: "Efficiency Cores", efficiency: true, tint: "#bf5af2" },
                { title: "Performance Cores", efficiency: false, tint: "#0a84ff" }
            ]
            ColumnLayout {
                id: cluster
                required property var modelData
                readonly property var loads: root.coresOf(modelData.efficiency)
                readonly property real usage: modelData.efficiency ? root.stats.eClusterUsage : root.stats.pClusterUsage
                visible: (modelData.efficiency ? root.stats.eCoreCount : root.stats.pCoreCount) > 0
                Layout.fillWidth: true
                spacing: 4
                RowLayout {
                    Layout.fillWidth: true
                    Text { text: modelData.title; color: root.theme.textColor; font.pixelSize: 11; Layout.fillWidth: true }
                    Text {
                        objectName: "clusterUsage"
                        text: Format.percent(cluster.usage)
                        color: modelData.tint
                        font.pixelSize: 11
                        font.weight: Font.Bold
                        font.family: "monospace"
                    }
                }
                CoreBars {
                    Layout.fillWidth: true
                    loads: cluster.loads
                    tint: modelData.tint
                }
            }
        }
    }
}
