#include "PersonaCatalog.h"

#include "app/WorkspacePersona.h"

#include <QFile>
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

QString PersonaCatalog::iconFor(const QString &persona)
{
    const std::optional<WorkspacePersona> p = WorkspacePersona::fromRawValue(persona);
    return p ? p->icon() : QString();
}

QString PersonaCatalog::pageFor(const QString &title)
{
    // First match wins, in this order.
    static const QList<std::pair<QStringList, QString>> pages{
        {{QStringLiteral("Settings")}, QStringLiteral("SettingsPage")},
        {{QStringLiteral("History")}, QStringLiteral("HistoryPage")},
        {{QStringLiteral("Sensors")}, QStringLiteral("SensorsPage")},
        {{QStringLiteral("Memory"), QStringLiteral("VRAM Shield")}, QStringLiteral("MemoryPage")},
        {{QStringLiteral("Disk"), QStringLiteral("Developer Caches"), QStringLiteral("Creator Caches"), QStringLiteral("Game Caches")}, QStringLiteral("DiskPage")},
        {{QStringLiteral("Power")}, QStringLiteral("PowerPage")},
        {{QStringLiteral("Network")}, QStringLiteral("NetworkPage")},
        {{QStringLiteral("Fans"), QStringLiteral("Fans & Cooling")}, QStringLiteral("FansPage")},
        {{QStringLiteral("AI Hardware")}, QStringLiteral("AIHardwarePage")},
        {{QStringLiteral("AI Models")}, QStringLiteral("AIModelsPage")},
        {{QStringLiteral("Performance Presets")}, QStringLiteral("PerformancePresetsPage")},
        {{QStringLiteral("API Sentinel")}, QStringLiteral("APISentinelPage")},
        {{QStringLiteral("AI Co-Pilot")}, QStringLiteral("CoPilotPage")},
        {{QStringLiteral("Help Guide")}, QStringLiteral("GuidePage")},
        {{QStringLiteral("System Info")}, QStringLiteral("SystemInfoPage")},
    };
    for (const auto &[titles, page] : pages)
        if (titles.contains(title))
            return page;
    return {};
}

QUrl PersonaCatalog::pageSource(const QString &title)
{
    const QString page = pageFor(title);
    const QString file = QStringLiteral(":/Quillmoor/%1.qml").arg(page);
    if (page.isEmpty() || !QFile::exists(file))
        return {};
    return QUrl(QStringLiteral("qrc") + file);
}
