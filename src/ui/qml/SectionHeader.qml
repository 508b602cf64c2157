import QtQuick
import Quillmoor

// An upper-case section label in the theme's accent colour.
Text {
    readonly property ThemeManager theme: Services.theme
    font.pixelSize: 10
    font.weight: Font.Bold
    font.letterSpacing: 1.1
    color: theme ? theme.accentColor : "#0a84ff"
}
