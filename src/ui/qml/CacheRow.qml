import QtQuick
import QtQuick.Layouts
import Quillmoor

// One cache of the disk page: its name, where it lives, its size, and the button that
// deletes it. A cache of a tool this system does not run says so instead of a size.
RowLayout {
    id: root
    property string title
    property string location
    property real bytes: 0
    // False for tools that exist only on another system.
    property bool available: true
    property string unavailableText: "Not on this system"
    property bool running: false
    property string buttonText: "Purge"
    property string runningText: "Purging..."
    signal purge()

    readonly property ThemeManager theme: Services.theme
    readonly property string sizeText: !available ? unavailableText : Format.size(bytes)
    objectName: "cacheRow"
    spacing: 10

    ColumnLayout {
        Layout.fillWidth: true
        spacing: 1
        Text {
            objectName: "cacheTitle"
            Layout.fillWidth: true
            text: root.title
            color: root.available ? root.theme.textColor : root.theme.secondaryTextColor
            font.pixelSize: 13
            elide: Text.ElideRight
        }
        Text {
            Layout.fillWidth: true
            visible: root.location.length > 0 && root.available
            text: Format.homeRelative(root.location)
            color: root.theme.secondaryTextColor
            font.pixelSize: 10
            font.family: "monospace"
            elide: Text.ElideMiddle
        }
    }
    Text {
        objectName: "cacheSize"
        text: root.sizeText
        color: root.available ? root.theme.textColor : root.theme.secondaryTextColor
        font.pixelSize: 12
        font.family: root.available ? "monospace" : Qt.application.font.family
        font.italic: !root.available
        Accessible.role: Accessible.StaticText
        Accessible.name: root.title + ": " + text
    }
    RunningButton {
        objectName: "cachePurgeButton"
        text: root.buttonText
        runningText: root.runningText
        running: root.running
        enabled: !root.running && root.available && root.bytes > 0
        Accessible.name: shownText + " " + root.title
        Accessible.description: root.available ? Format.size(root.bytes) : root.unavailableText
        onClicked: root.purge()
        Keys.onReturnPressed: if (enabled) root.purge()
        Keys.onEnterPressed: if (enabled) root.purge()
    }
}
