#include "WorkspacePersona.h"

namespace {
SidebarEntry entry(const char *symbol, const char *title)
{
    return {QString::fromUtf8(symbol), QString::fromUtf8(title)};
}
}

const QList<WorkspacePersona> &WorkspacePersona::allCases()
{
    static const QList<WorkspacePersona> cases{AiEngineer, Developer, Creator, Gamer};
    return cases;
}

std::optional<WorkspacePersona> WorkspacePersona::fromRawValue(QStringView raw)
{
    for (const WorkspacePersona &persona : allCases())
        if (persona.rawValue() == raw)
            return persona;
    return std::nullopt;
}

QString WorkspacePersona::rawValue() const
{
    switch (m_case) {
    case AiEngineer: return QStringLiteral("AI Engineer");
    case Developer: return QStringLiteral("Software Developer");
    case Creator: return QStringLiteral("Content Creator");
    case Gamer: return QStringLiteral("Gamer");
    }
    return QStringLiteral("AI Engineer");
}

QString WorkspacePersona::icon() const
{
    switch (m_case) {
    case AiEngineer: return QStringLiteral("sparkles");
    case Developer: return QStringLiteral("terminal");
    case Creator: return QStringLiteral("play.rectangle");
    case Gamer: return QStringLiteral("gamecontroller");
    }
    return QStringLiteral("sparkles");
}

QString WorkspacePersona::sectionTitle() const
{
    switch (m_case) {
    case AiEngineer: return QStringLiteral("AI INTELLIGENCE");
    case Developer: return QStringLiteral("DEVELOPER SUITE");
    case Creator: return QStringLiteral("CREATIVE SUITE");
    case Gamer: return QStringLiteral("GAMER SUITE");
    }
    return QStringLiteral("AI INTELLIGENCE");
}

QList<SidebarEntry> WorkspacePersona::personaTools() const
{
    const SidebarEntry presets = entry("bolt.shield.fill", "Performance Presets");
    const SidebarEntry sentinel = entry("bolt.horizontal.circle.fill", "API Sentinel");
    const SidebarEntry copilot = entry("sparkles", "AI Co-Pilot");
    switch (m_case) {
    case AiEngineer:
        return {entry("cpu", "AI Hardware"), entry("shippingbox.fill", "AI Models"), presets, sentinel, copilot};
    case Developer:
        return {presets, sentinel, copilot};
    case Creator:
        return {presets, entry("memorychip", "VRAM Shield")};
    case Gamer:
        return {presets};
    }
    return {};
}

QList<SidebarEntry> WorkspacePersona::systemMonitorItems() const
{
    // The thermometer, not the chip: AI Hardware shows the chip in the same sidebar.
    const SidebarEntry sensors = entry("thermometer.medium", "Sensors");
    const SidebarEntry memory = entry("memorychip", "Memory");
    const SidebarEntry network = entry("link", "Network");
    const SidebarEntry fans = entry("fanblades.fill", "Fans");
    const SidebarEntry power = entry("bolt.fill", "Power");
    const SidebarEntry history = entry("clock.fill", "History");
    switch (m_case) {
    case AiEngineer:
        return {sensors, memory, entry("externaldrive.fill", "Disk"), network, fans, power, history};
    case Developer:
        return {sensors, memory, entry("externaldrive.fill", "Developer Caches"), network, fans, power, history};
    case Creator:
        return {sensors, memory, entry("externaldrive.fill", "Creator Caches"), fans, power, history};
    case Gamer:
        return {sensors, memory, entry("externaldrive.fill", "Game Caches"), entry("fanblades.fill", "Fans & Cooling"), power};
    }
    return {};
}

QList<SidebarEntry> WorkspacePersona::utilityItems()
{
    return {entry("info.circle.fill", "System Info"), entry("book.fill", "Help Guide"), entry("gearshape.fill", "Settings")};
}
