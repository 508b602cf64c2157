import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard: the persona's sidebar on the left, the selected page on the right.
Rectangle {
    id: root
    readonly property ThemeManager theme: Services.theme
    required property string initialTab
    property string selectedSidebarItem: initialTab

    // The page file the one table names for this title; empty when there is none here.
    readonly property url pageSource: Services.personas.pageSource(selectedSidebarItem)

    implicitWidth: 960
    implicitHeight: 700
    color: theme.contentBackground

    // The guided tour opens at its first step; its own view draws it over the dashboard.
    function startTour() {
        Services.preferences.onboardingTourStep = 0
        Services.preferences.showOnboardingTour = true
    }

    // A first run opens the tour with the dashboard, until the tour has been finished once.
    // A tour the last run quit in the middle of reopens at the step it had reached.
    Component.onCompleted: {
        if (!Services.preferences.hasCompletedOnboardingTour && !Services.preferences.showOnboardingTour)
            startTour()
    }

    // The popover's and the settings page's "start the tour" reach here, whatever is shown.
    Connections {
        target: Services.notifications
        function onPosted(name: string, userInfo: var) {
            if (name === "StartTour")
                root.startTour()
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0
        // While the tour is up, Tab stays among its controls rather than wandering off to
        // the dimmed page below.
        enabled: !Services.preferences.showOnboardingTour

        Rectangle {
            id: sidebar
            objectName: "sidebar"
            Layout.preferredWidth: 230
            Layout.fillHeight: true
            color: root.theme.sidebarBackground

            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 14
                spacing: 4

                RowLayout {
                    spacing: 10
                    Layout.bottomMargin: 12
                    Rectangle {
                        width: 34; height: 34; radius: 9
                        color: root.theme.accentColor
                        SymbolImage { anchors.centerIn: parent; symbol: "bolt.shield.fill"; side: 20; tint: "white" }
                    }
                    ColumnLayout {
                        spacing: 1
                        Text { text: "Quillmoor"; color: root.theme.textColor; font.pixelSize: 16; font.weight: Font.Bold }
                        Text {
                            text: "AI-FIRST CO-PILOT"; color: root.theme.secondaryTextColor
                            font.pixelSize: 9; font.weight: Font.DemiBold; font.letterSpacing: 1.2
                        }
                    }
                }

                Repeater {
                    model: Services.personas.sidebarSections(Services.preferences.workspacePersona)
                    ColumnLayout {
                        id: section
                        required property var modelData
                        Layout.fillWidth: true
                        Layout.bottomMargin: 10
                        spacing: 2
                        Text {
                            text: section.modelData.title
                            color: root.theme.secondaryTextColor
                            font.pixelSize: 10
                            font.weight: Font.Bold
                            font.letterSpacing: 1.1
                            Layout.leftMargin: 10
                            Layout.bottomMargin: 4
                        }
                        Repeater {
                            model: section.modelData.entries
                            SidebarButton {
                                required property var modelData
                                Layout.fillWidth: true
                                symbol: modelData.symbol
                                title: modelData.title
                                selected: root.selectedSidebarItem === modelData.title
                                onClicked: root.selectedSidebarItem = modelData.title
                            }
                        }
                    }
                }

                Item { Layout.fillHeight: true }

                SidebarButton {
                    Layout.fillWidth: true
                    symbol: "power"
                    title: "Quit"
                    onClicked: Qt.quit()
                }
            }
        }

        Rectangle { Layout.fillHeight: true; width: 1; color: root.theme.dividerColor }

        // The page area: the page the table names, or a plain word that there is none.
        // Only the shown page exists; switching pages keeps nothing of the last one.
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 28
                anchors.topMargin: 36
                spacing: 6
                Text {
                    objectName: "pageTitle"
                    text: root.selectedSidebarItem
                    color: root.theme.textColor
                    font.pixelSize: 24
                    font.weight: Font.Bold
                }
                Loader {
                    objectName: "pageContent"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    Layout.topMargin: 12
                    active: root.pageSource.toString() !== ""
                    visible: active
                    source: root.pageSource
                }
                Loader {
                    objectName: "notAvailable"
                    Layout.fillWidth: true
                    Layout.topMargin: 12
                    Layout.fillHeight: true
                    active: root.pageSource.toString() === ""
                    visible: active
                    sourceComponent: NotAvailablePage {
                        title: root.selectedSidebarItem
                        planned: Services.personas.pageFor(root.selectedSidebarItem) !== ""
                    }
                }
            }
        }
    }

    // The tour, over everything, made only while it is shown.
    Loader {
        objectName: "tourLoader"
        anchors.fill: parent
        active: Services.preferences.showOnboardingTour
        visible: active
        focus: active
        sourceComponent: OnboardingTourView {
            sidebarWidth: sidebar.width
            onPageRequested: (title) => root.selectedSidebarItem = title
        }
    }
}
