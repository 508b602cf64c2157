import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's "AI Co-Pilot" page.
DashboardPage {
    id: page
    tipsTitle: "Co-Pilot Tips"
    tips: [
        "Ask about heat, battery, slowness or the network: the co-pilot answers from this machine's live figures.",
        "The audit cards appear only while their finding holds; a disabled button says on hover why this machine cannot do it.",
        "The co-pilot runs entirely on local rules: no model is loaded and nothing leaves the machine."
    ]

    AICoPilotView {
        objectName: "copilotView"
        Layout.fillWidth: true
    }
}
