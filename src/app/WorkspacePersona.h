#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// One dashboard sidebar entry. The title doubles as the key of the page it opens.
struct SidebarEntry
{
    QString symbol;
    QString title;
    bool operator==(const SidebarEntry &) const = default;
};

// Who the user works as; decides which tools the dashboard sidebar offers.
class WorkspacePersona
{
public:
    enum Case { AiEngineer, Developer, Creator, Gamer };

    constexpr WorkspacePersona(Case c = AiEngineer) : m_case(c) {}

    static std::optional<WorkspacePersona> fromRawValue(QStringView raw);
    static const QList<WorkspacePersona> &allCases();

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString icon() const;
    QString sectionTitle() const;

    QList<SidebarEntry> personaTools() const;
    QList<SidebarEntry> systemMonitorItems() const;
    // The "PREFERENCES" section, the same for everyone.
    static QList<SidebarEntry> utilityItems();

    constexpr bool operator==(const WorkspacePersona &) const = default;

private:
    Case m_case;
};
