#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// A named whole-machine profile; its raw value is the display name.
class PerformancePreset
{
public:
    enum Case { InferenceMax, LocalTraining, CompileMax, CreativeMax, GameMode, EcoDev, VanillaMac };

    constexpr PerformancePreset(Case c = VanillaMac) : m_case(c) {}

    // Exactly the raw values, case-sensitive.
    static std::optional<PerformancePreset> fromRawValue(QStringView raw);
    static const QList<PerformancePreset> &allCases();

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString icon() const;
    QString description() const;

    constexpr bool operator==(const PerformancePreset &) const = default;

private:
    Case m_case;
};
