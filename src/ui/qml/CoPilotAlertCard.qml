import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// One finding of the co-pilot's workspace audit: what it saw, and the one action that
// answers it. An action this machine cannot take is disabled, and hovering it says why.
Card {
    id: root
    property string text
    // A live figure or two under the finding, when there are any.
    property string detail
    property string actionText
    property string actionSymbol
    property string runningText
    property bool running: false
    property bool actionEnabled: true
    // Why the action is disabled; the button's hover help.
    property string disabledReason
    signal triggered()

    RowLayout {
        Layout.fillWidth: true
        spacing: 14
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            Text {
                objectName: "alertText"
                Layout.fillWidth: true
                text: root.text
                color: root.theme.textColor
                font.pixelSize: 12
                wrapMode: Text.WordWrap
            }
            Text {
                objectName: "alertDetail"
                Layout.fillWidth: true
                visible: root.detail.length > 0
                text: root.detail
                color: root.theme.secondaryTextColor
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }
        }
        Item {
            Layout.alignment: Qt.AlignVCenter
            implicitWidth: action.implicitWidth
            implicitHeight: action.implicitHeight
            RunningButton {
                id: action
                objectName: "alertAction"
                anchors.fill: parent
                text: root.actionText
                runningText: root.runningText
                symbol: root.actionSymbol
                tint: root.tint
                running: root.running
                enabled: root.actionEnabled && !root.running
                Keys.onReturnPressed: if (enabled) clicked()
                Keys.onEnterPressed: if (enabled) clicked()
                onClicked: root.triggered()
                Accessible.description: enabled ? "" : root.disabledReason
            }
            // A disabled button takes no hover, so the reason is shown from an area over it.
            MouseArea {
                objectName: "disabledReasonArea"
                anchors.fill: parent
                visible: !action.enabled && root.disabledReason.length > 0
                hoverEnabled: true
                acceptedButtons: Qt.NoButton
                ToolTip.visible: containsMouse
                ToolTip.text: root.disabledReason
                ToolTip.delay: 300
            }
        }
    }
}
