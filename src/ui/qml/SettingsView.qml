import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillmoor

// The dashboard: the persona's sidebar on the left, the selected page on the right.
Rectangle {
    id: root
    property var theme: Services.theme
    property var processMonitor: Services.processMonitor
    property var preferences: Services.preferences
    property var personas: Services.personas
    property var presets: Services.presets
    required property string initialTab
    property string selectedSidebarItem: initialTab

    readonly property string page: personas.pageFor(selectedSidebarItem)

    implicitWidth: 960
    implicitHeight: 700
    color: theme.contentBackground

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
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
                    model: root.personas.sidebarSections(root.preferences.workspacePersona)
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
                                theme: root.theme
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
                    theme: root.theme
                    symbol: "power"
                    title: "Quit"
                    onClicked: Qt.quit()
                }
            }
        }

        Rectangle { Layout.fillHeight: true; width: 1; color: root.theme.dividerColor }

        // The page area. Each page's screen replaces its heading here as it is built.
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
                Text {
                    visible: root.page === ""
                    text: "There is no page called \u201c" + root.selectedSidebarItem + "\u201d."
                    color: root.theme.secondaryTextColor
                    font.pixelSize: 13
                }
                Loader {
                    objectName: "pageContent"
                    Layout.fillWidth: true
                    Layout.topMargin: 12
                    active: root.selectedSidebarItem === "Performance Presets" && root.presets !== null
                    sourceComponent: Component {
                        PerformancePresetsView { presetManager: root.presets; theme: root.theme }
                    }
                }
                Item { Layout.fillHeight: true }
            }
        }
    }
}
