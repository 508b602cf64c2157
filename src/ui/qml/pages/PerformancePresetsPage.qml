import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Performance Presets" page.
ColumnLayout {
    spacing: 0
    PerformancePresetsView {
        Layout.fillWidth: true
    }
    Item { Layout.fillHeight: true }
}
