#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringView>

#include <optional>

// A named whole-machine profile; its raw value is the display name.
class PerformancePreset
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name READ rawValue)
    Q_PROPERTY(QString icon READ icon)
    Q_PROPERTY(QString description READ description)

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
