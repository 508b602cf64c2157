#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The state of the local model server as the last listing found it.
class OllamaStatus
{
public:
    enum Case { Offline, Idle, Active };

    constexpr OllamaStatus(Case c = Offline) : m_case(c) {}

    static std::optional<OllamaStatus> fromRawValue(QStringView raw);
    constexpr Case value() const { return m_case; }
    // "Offline", "Idle" or "Active": also what the screens show.
    QString rawValue() const;

    constexpr bool operator==(const OllamaStatus &) const = default;

private:
    Case m_case;
};
