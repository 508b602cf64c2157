#include "OllamaStatus.h"

std::optional<OllamaStatus> OllamaStatus::fromRawValue(QStringView raw)
{
    for (const Case c : {Offline, Idle, Active})
        if (OllamaStatus(c).rawValue() == raw)
            return OllamaStatus(c);
    return std::nullopt;
}

QString OllamaStatus::rawValue() const
{
    switch (m_case) {
    case Offline: return QStringLiteral("Offline");
    case Idle: return QStringLiteral("Idle");
    case Active: return QStringLiteral("Active");
    }
    return {};
}
