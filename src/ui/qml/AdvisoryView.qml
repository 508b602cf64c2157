import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The advisory's commands when no terminal emulator could be opened: the same seven
// lines, ready to copy into a terminal.
Rectangle {
    id: root
    readonly property ThemeManager theme: Services.theme
    required property var lines
    signal closeRequested()

    color: theme.contentBackground

    // Holds the text for the clipboard; QML has no clipboard of its own.
    TextEdit { id: buffer; visible: false; text: root.lines.join("\n") }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        Text {
            text: "Run these in a terminal"
            color: root.theme.textColor
            font.pixelSize: 15
            font.bold: true
        }
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: 6
            color: Qt.rgba(0, 0, 0, 0.25)
            border.color: root.theme.dividerColor
            TextEdit {
                anchors.fill: parent
                anchors.margins: 10
                readOnly: true
                selectByMouse: true
                text: root.lines.join("\n")
                color: root.theme.textColor
                font.family: "monospace"
                font.pixelSize: 12
                wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8
            Button {
                id: copyButton
                property bool copied: false
                text: copied ? "Copied" : "Copy"
                onClicked: { buffer.selectAll(); buffer.copy(); buffer.deselect(); copied = true }
            }
            Button { text: "Close"; onClicked: root.closeRequested() }
        }
    }
}
