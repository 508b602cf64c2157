import QtQuick
import QtQuick.Layouts
import Quillmoor

// Says, while the offline sandbox is on, that the workspace figures around it are samples,
// so nobody takes a sample model or port for one running on this machine.
RowLayout {
    id: root
    readonly property ThemeManager theme: Services.theme
    objectName: "sandboxNote"
    visible: Services.localAI !== null && Services.localAI.demoMode
    spacing: 8
    Badge { text: "SAMPLE DATA"; tint: "#ff9f0a" }
    Text {
        Layout.fillWidth: true
        text: "The Offline Developer Sandbox is on (AI tab of the popover): models, ports and servers shown here are samples."
        color: root.theme.secondaryTextColor
        font.pixelSize: 11
        wrapMode: Text.WordWrap
    }
}
