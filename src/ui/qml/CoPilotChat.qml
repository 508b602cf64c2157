import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The question box: the conversation so far, then a field and a send button. Each question
// goes to the co-pilot's rules; its answer joins the conversation when it comes, with a
// thinking line in between.
Card {
    id: root
    readonly property AIService aiService: Services.aiService
    property int pending: 0

    function send() {
        const query = field.text.trim()
        if (query.length === 0 || !aiService)
            return
        conversation.append({ fromUser: true, line: query })
        field.text = ""
        ++pending
        aiService.chatWithSystem(query)
    }

    Connections {
        target: root.aiService
        function onChatAnswered(query: string, answer: string) {
            if (root.pending === 0)
                return   // a question asked from another screen
            --root.pending
            conversation.append({ fromUser: false, line: answer })
        }
    }

    ListModel { id: conversation }

    Repeater {
        model: conversation
        RowLayout {
            id: line
            required property bool fromUser
            required property string line
            objectName: fromUser ? "userLine" : "copilotLine"
            Layout.fillWidth: true
            spacing: 8
            SymbolImage {
                Layout.alignment: Qt.AlignTop
                Layout.topMargin: 6
                symbol: line.fromUser ? "person.fill" : "sparkles"
                tint: line.fromUser ? root.theme.secondaryTextColor : "#bf5af2"
                side: 14
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: lineText.implicitHeight + 14
                radius: 8
                color: line.fromUser ? (root.theme.isLight ? Qt.rgba(0, 0, 0, 0.05) : Qt.rgba(1, 1, 1, 0.06))
                                     : Qt.rgba(0.75, 0.35, 0.95, root.theme.isLight ? 0.10 : 0.14)
                Text {
                    id: lineText
                    objectName: "lineText"
                    anchors.fill: parent
                    anchors.margins: 7
                    text: line.line
                    color: root.theme.textColor
                    font.pixelSize: 12
                    wrapMode: Text.WordWrap
                }
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        visible: root.pending > 0
        spacing: 8
        BusyIndicator { running: root.pending > 0; Layout.preferredWidth: 16; Layout.preferredHeight: 16 }
        Text {
            objectName: "chatThinking"
            text: "Co-pilot is thinking..."
            color: root.theme.secondaryTextColor
            font.pixelSize: 12
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        TextField {
            id: field
            objectName: "chatField"
            Layout.fillWidth: true
            placeholderText: "Query system logs, optimization tips, port checks..."
            Accessible.name: "Ask the co-pilot"
            font.pixelSize: 12
            onAccepted: root.send()
        }
        RunningButton {
            objectName: "chatSend"
            text: "Send"
            symbol: "paperplane.fill"
            enabled: field.text.trim().length > 0
            Accessible.name: "Send question"
            Keys.onReturnPressed: if (enabled) clicked()
            Keys.onEnterPressed: if (enabled) clicked()
            onClicked: root.send()
        }
    }
}
