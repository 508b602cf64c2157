import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// Asks once before anything is deleted, naming the folder and the size, the way cleaners
// do. The deletion runs only on "Delete"; "Cancel", Escape or closing leave every file.
Item {
    id: root
    objectName: "confirmDelete"
    property string folder
    property real bytes: 0
    property var pendingAction: null
    readonly property alias opened: dialog.opened
    readonly property ThemeManager theme: Services.theme
    readonly property string question: "Delete " + Format.size(bytes) + " in " + Format.homeRelative(folder) + "?"

    function ask(where, size, action) {
        folder = where
        bytes = size
        pendingAction = action
        dialog.open()
    }
    function accept() { dialog.accept() }
    function reject() { dialog.reject() }

    Dialog {
        id: dialog
        modal: true
        focus: true
        anchors.centerIn: Overlay.overlay
        width: Math.min(420, Overlay.overlay ? Overlay.overlay.width - 40 : 420)
        title: "Delete files?"
        closePolicy: Popup.CloseOnEscape

        onAccepted: {
            const action = root.pendingAction
            root.pendingAction = null
            if (action)
                action()
        }
        onRejected: root.pendingAction = null

        contentItem: ColumnLayout {
            spacing: 8
            Text {
                objectName: "confirmQuestion"
                Layout.fillWidth: true
                text: root.question
                color: root.theme.textColor
                font.pixelSize: 13
                font.weight: Font.DemiBold
                wrapMode: Text.WrapAnywhere
            }
            Text {
                Layout.fillWidth: true
                text: "The files are removed for good; they are not moved to the trash."
                color: root.theme.secondaryTextColor
                font.pixelSize: 11
                wrapMode: Text.WordWrap
            }
        }
        footer: DialogButtonBox {
            Button {
                objectName: "confirmDeleteButton"
                text: "Delete"
                Accessible.name: "Delete"
                DialogButtonBox.buttonRole: DialogButtonBox.DestructiveRole
                onClicked: dialog.accept()
            }
            Button {
                objectName: "cancelDeleteButton"
                text: "Cancel"
                Accessible.name: "Cancel"
                DialogButtonBox.buttonRole: DialogButtonBox.RejectRole
            }
        }
    }
}
