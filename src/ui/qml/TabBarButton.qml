import QtQuick
import QtQuick.Controls

// One of the popover's five tab buttons; the popover slides its colour fill under the
// selected one. On the tour's tab-bar step the selected button pulses.
AbstractButton {
    id: root
    property string symbol
    property string title
    Accessible.name: title
    property int tabIndex
    property int selectedTab
    property color tint
    property color idleTint
    property bool showOnboardingTour: false
    property int onboardingTourStep: 0
    signal picked(int tabIndex)

    readonly property bool selected: tabIndex === selectedTab
    readonly property bool pulsate: showOnboardingTour && onboardingTourStep === 5 && selected
    implicitWidth: 32
    implicitHeight: 32
    onClicked: picked(tabIndex)

    background: Rectangle {
        radius: 8
        color: root.tint
        opacity: root.hovered && !root.selected ? 0.10 : 0.0
        Behavior on opacity { NumberAnimation { duration: 150 } }
    }
    contentItem: Item {
        SymbolImage {
            id: glyph
            anchors.centerIn: parent
            symbol: root.symbol
            side: 18
            tint: root.selected ? root.tint : root.idleTint
        }
    }
    SequentialAnimation {
        running: root.pulsate
        loops: Animation.Infinite
        onRunningChanged: if (!running) root.scale = 1
        NumberAnimation { target: root; property: "scale"; to: 1.15; duration: 800; easing.type: Easing.InOutQuad }
        NumberAnimation { target: root; property: "scale"; to: 1.0; duration: 800; easing.type: Easing.InOutQuad }
    }
}
