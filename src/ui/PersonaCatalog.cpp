#include "PersonaCatalog.h"

#include "app/WorkspacePersona.h"

#include <QVariantMap>

namespace {
QVariantMap section(const QString &title, const QList<SidebarEntry> &entries)
{
    QVariantList list;
    for (const SidebarEntry &e : entries)
        list.append(QVariantMap{{QStringLiteral("symbol"), e.symbol}, {QStringLiteral("title"), e.title}});
    return {{QStringLiteral("title"), title}, {QStringLiteral("entries"), list}};
}
}

PersonaCatalog::PersonaCatalog(QObject *parent)
    : QObject(parent)
{
}

QStringList PersonaCatalog::personas() const
{
    QStringList names;
    for (const WorkspacePersona &p : WorkspacePersona::allCases())
        names << p.rawValue();
    return names;
}

QVariantList PersonaCatalog::sidebarSections(const QString &persona) const
{
    const WorkspacePersona p = WorkspacePersona::fromRawValue(persona).value_or(WorkspacePersona::AiEngineer);
    return {section(p.sectionTitle(), p.personaTools()),
            section(QStringLiteral("SYSTEM MONITOR"), p.systemMonitorItems()),
            section(QStringLiteral("PREFERENCES"), WorkspacePersona::utilityItems())};
}

QString PersonaCatalog::pageFor(const QString &title)
{
    // First match wins, in this order.
    static const QList<std::pair<QStringList, QString>> pages{
        {{QStringLiteral("Settings")}, QStringLiteral("settings")},
        {{QStringLiteral("History")}, QStringLiteral("history")},
        {{QStringLiteral("Sensors")}, QStringLiteral("sensors")},
        {{QStringLiteral("Memory"), QStringLiteral("VRAM Shield")}, QStringLiteral("memory")},
        {{QStringLiteral("Disk"), QStringLiteral("Developer Caches"), QStringLiteral("Creator Caches"), QStringLiteral("Game Caches")}, QStringLiteral("disk")},
        {{QStringLiteral("Power")}, QStringLiteral("power")},
        {{QStringLiteral("Network")}, QStringLiteral("network")},
        {{QStringLiteral("Fans"), QStringLiteral("Fans & Cooling")}, QStringLiteral("fans")},
        {{QStringLiteral("AI Hardware")}, QStringLiteral("aiHardware")},
        {{QStringLiteral("AI Models")}, QStringLiteral("aiModels")},
        {{QStringLiteral("Performance Presets")}, QStringLiteral("presets")},
        {{QStringLiteral("API Sentinel")}, QStringLiteral("apiSentinel")},
        {{QStringLiteral("AI Co-Pilot")}, QStringLiteral("copilot")},
        {{QStringLiteral("Help Guide")}, QStringLiteral("guide")},
        {{QStringLiteral("System Info")}, QStringLiteral("systemInfo")},
    };
    for (const auto &[titles, page] : pages)
        if (titles.contains(title))
            return page;
    return {};
}
