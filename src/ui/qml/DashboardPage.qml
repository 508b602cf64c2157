import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The frame of every dashboard page: the page's own heading and caption, its content in one
// full-width column, and its tip list at the end. The page scrolls when it is taller than
// the window.
ScrollView {
    id: root
    property string heading
    property string caption
    property string tipsTitle
    property var tips: []
    default property alias content: column.data
    // True while the page is on screen: charts and timers gate their work on it.
    readonly property bool shown: visible && width > 0

    readonly property ThemeManager theme: Services.theme
    contentWidth: availableWidth
    clip: true
    focusPolicy: Qt.NoFocus
    ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

    // Keyboard focus moving to a control below or above the visible part scrolls it into
    // view, as in any scrolling form: Tab must not walk the user through controls they
    // cannot see.
    function reveal(item) {
        const flick = root.contentItem
        if (!item || !flick || !flick.contentItem)
            return
        let inside = item.parent
        while (inside && inside !== flick.contentItem)
            inside = inside.parent
        if (!inside)
            return
        const margin = 12
        const top = item.mapToItem(flick.contentItem, 0, 0).y
        const bottom = top + item.height
        if (top - margin < flick.contentY)
            flick.contentY = Math.max(0, top - margin)
        else if (bottom + margin > flick.contentY + flick.height)
            flick.contentY = Math.max(0, Math.min(flick.contentHeight - flick.height, bottom + margin - flick.height))
    }
    Connections {
        target: root.Window.window
        function onActiveFocusItemChanged() {
            const item = root.Window.window.activeFocusItem
            if (item && item.activeFocusOnTab !== undefined)
                root.reveal(item)
        }
    }

    ColumnLayout {
        width: root.availableWidth - 14
        spacing: 14

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            visible: root.heading.length > 0 || root.caption.length > 0
            Text {
                objectName: "pageHeading"
                Layout.fillWidth: true
                text: root.heading
                visible: text.length > 0
                color: root.theme.textColor
                font.pixelSize: 15
                font.weight: Font.DemiBold
                wrapMode: Text.WordWrap
            }
            Text {
                objectName: "pageCaption"
                Layout.fillWidth: true
                text: root.caption
                visible: text.length > 0
                color: root.theme.secondaryTextColor
                font.pixelSize: 12
                wrapMode: Text.WordWrap
            }
        }

        ColumnLayout {
            id: column
            Layout.fillWidth: true
            spacing: 14
        }

        ActionTipsView {
            Layout.fillWidth: true
            Layout.topMargin: 4
            Layout.bottomMargin: 12
            visible: root.tips.length > 0
            title: root.tipsTitle
            tips: root.tips
        }
    }
}
