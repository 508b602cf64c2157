import QtQuick
import QtQuick.Layouts
import Quillmoor

// How fast each model runs, from the figures Ollama writes at the end of every generate
// and chat reply that passed through the relay: tokens per second while generating, the
// prompt's reading speed, and the last load time, which shows whether a request found its
// model loaded or waited for it.
Card {
    id: root
    readonly property LocalAPIProxyService proxy: Services.proxy
    readonly property var rows: Services.modelThroughput
    readonly property int count: rows ? rows.count : 0
    // The fastest model sets the bars' scale.
    readonly property real fastest: {
        let top = 1
        for (const row of proxy.modelThroughput)
            top = Math.max(top, row.tokensPerSecond)
        return top
    }

    objectName: "throughputCard"
    title: "Model Throughput"
    symbol: "gauge.with.dots.needle.67percent"
    tint: "#64d2ff"

    Text {
        objectName: "throughputEmpty"
        Layout.fillWidth: true
        visible: root.count === 0
        text: root.proxy.isRunning
              ? "No generations through the relay yet. Chat or generate requests sent to port 11430 are measured here."
              : "Switch the relay on and point clients at port 11430 to measure how fast each model generates."
        color: root.theme.secondaryTextColor
        font.pixelSize: 12
        wrapMode: Text.WordWrap
    }

    Repeater {
        model: root.rows
        delegate: ColumnLayout {
            id: row
            required property string model
            required property double tokensPerSecond
            required property double lastTokensPerSecond
            required property double promptTokensPerSecond
            required property double lastLoadSeconds
            required property int requests
            required property int meteredRequests
            required property int generatedTokens
            objectName: "throughputRow"
            Layout.fillWidth: true
            spacing: 4
            Accessible.role: Accessible.StaticText
            Accessible.name: row.model + ": " + rate.text + ", last load " + load.text

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                SymbolImage { symbol: "sparkles"; tint: root.tint; side: 13 }
                Text {
                    objectName: "throughputModel"
                    Layout.fillWidth: true
                    text: row.model
                    color: root.theme.textColor
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }
                Text {
                    id: rate
                    objectName: "throughputRate"
                    text: row.meteredRequests > 0 ? Format.tokensPerSecond(row.tokensPerSecond) : "no figures"
                    color: root.theme.textColor
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    font.family: "monospace"
                }
            }
            Bar {
                Layout.fillWidth: true
                fraction: row.tokensPerSecond / root.fastest
                tint: root.tint
            }
            RowLayout {
                Layout.fillWidth: true
                spacing: 12
                Text {
                    objectName: "throughputDetail"
                    Layout.fillWidth: true
                    text: row.requests + (row.requests === 1 ? " request · " : " requests · ") + row.generatedTokens
                          + " tokens · last " + Format.tokensPerSecond(row.lastTokensPerSecond)
                          + " · prompt " + Format.tokensPerSecond(row.promptTokensPerSecond)
                    color: root.theme.secondaryTextColor
                    font.pixelSize: 11
                    elide: Text.ElideRight
                }
                Text {
                    id: load
                    objectName: "throughputLoad"
                    text: "load " + Format.seconds(row.lastLoadSeconds)
                    color: row.lastLoadSeconds < 1 ? root.theme.secondaryTextColor : root.theme.isLight ? Qt.darker("#ff9f0a", 1.5) : "#ff9f0a"
                    font.pixelSize: 11
                    font.family: "monospace"
                }
            }
        }
    }

    Text {
        Layout.fillWidth: true
        visible: root.count > 0
        text: "As Ollama reports them at the end of each reply through the relay; requests sent straight to port 11434 are not seen."
        color: root.theme.secondaryTextColor
        font.pixelSize: 10
        wrapMode: Text.WordWrap
    }
}
