import QtQuick
import QtQuick.Layouts
import Quillmoor

// The dashboard's "Help Guide" page.
DashboardPage {
    id: page
    tipsTitle: "Getting Started Tips"
    tips: [
        "Start the guided tour again any time from Settings with \"Start Guided Onboarding Tour\".",
        "Hover a button to see what it will do; buttons this machine cannot honour say why they are disabled.",
        "Every purge names its folder and size and asks before anything is deleted."
    ]

    AIGuideView {
        objectName: "guideView"
        Layout.fillWidth: true
    }
}
