import QtQuick
import QtQuick.Layouts
import Quillmoor

// The AI tab's optimizer: the automatic protections that pause, cool, sleep or unload the
// local AI workspace when something else needs the machine more.
ColumnLayout {
    id: root
    readonly property LocalAIService localAI: Services.localAI
    readonly property Preferences preferences: Services.preferences
    readonly property ThemeManager theme: Services.theme
    readonly property int held: localAI ? localAI.suspendedPIDs.length : 0
    readonly property color heading: theme.isLight ? Qt.darker("#ffd60a", 1.8) : "#ffd60a"
    spacing: 8

    RowLayout {
        spacing: 6
        SymbolImage { symbol: "bolt.fill"; tint: root.heading; side: 13 }
        SectionHeader { text: "DEVELOPER WORKSPACE SUITE"; color: root.heading }
    }
    ProtectionCard {
        objectName: "compileShieldCard"
        Layout.fillWidth: true
        title: "Compiler VRAM Shield"
        badge: "AUTO-PAUSE"
        tint: "#bf5af2"
        description: "Auto-pause Ollama & heavy models when a compiler (clang, swiftc, make, cmake) is running."
        help: "Automatically pauses heavy local AI models while you compile, to give the build the CPU and GPU cycles"
        on: root.localAI.compileAutoSuspendEnabled
        onToggled: (value) => root.localAI.compileAutoSuspendEnabled = value
        status: root.held > 0 ? "VRAM Shield Active: Suspending " + root.held + " local AI process(es)" : ""
    }
    ProtectionCard {
        objectName: "buildTurboCard"
        Layout.fillWidth: true
        title: "Build Turbo Proactive Cooling"
        badge: "PRIMING"
        tint: "#ff9f0a"
        description: "Detect compilers and proactively spool fans to 100% to avoid thermal throttling."
        help: "Instantly primes and spins up fans to 100% when active builds start to prevent thermal CPU throttling"
        on: root.localAI.buildTurboEnabled
        onToggled: (value) => root.localAI.buildTurboEnabled = value
    }
    ProtectionCard {
        objectName: "vmSleepCard"
        Layout.fillWidth: true
        title: "Docker / Colima VM Auto-Sleep"
        badge: "AUTO-SLEEP"
        tint: "#64d2ff"
        description: "Automatically hibernate container VMs when active container load is zero."
        help: "Automatically suspends background VMs (Colima, Docker, Podman) when active containers are idle"
        on: root.localAI.vmAutoSleepEnabled
        onToggled: (value) => root.localAI.vmAutoSleepEnabled = value
    }
    ProtectionCard {
        objectName: "batteryShieldCard"
        Layout.fillWidth: true
        title: "Unplugged Battery Shield"
        badge: "DC POWER"
        tint: "#30d158"
        // The shield engages on battery power alone; the text says so rather than promise
        // a threshold it does not wait for.
        description: "Auto-ejects models and hibernates VM containers as soon as the laptop runs on battery."
        help: "Throttles local AI GPU/VRAM models when your laptop moves to battery power"
        on: root.localAI.batteryShieldEnabled
        onToggled: (value) => root.localAI.batteryShieldEnabled = value
    }
    ProtectionCard {
        objectName: "smartPauseCard"
        Layout.fillWidth: true
        title: "Smart Pause Thermal Protector"
        tint: "#ff453a"
        description: "Pause heavy training runs if battery < 20% or Temp > 88°C"
        help: "Automatically suspends background model processes if core CPU temperatures exceed 88°C to prevent thermal stress"
        on: root.preferences.smartPauseEnabled
        onToggled: (value) => root.preferences.smartPauseEnabled = value
        status: root.localAI.smartPauseActive
                ? "Smart Pause Active: holding " + root.localAI.smartPausedPIDs.length + " local AI process(es)" : ""
    }
}
