#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// A colour on the sRGB 0...1 scale with opacity.
struct ThemeColor
{
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    // "#AARRGGBB", the form QML colour properties accept.
    QString name() const;
    bool operator==(const ThemeColor &) const = default;
};

// The translucent effect a theme draws its windows with. Linux compositors offer no
// named materials, so each maps to a tinted background that is either see-through or solid.
struct BackgroundMaterial
{
    QString name;             // the material's name on the platform that has them
    int appKitRawValue = 0;
    bool translucent = false;
    bool operator==(const BackgroundMaterial &) const = default;
};

class AppTheme
{
public:
    enum Case { Standard, Cyberpunk, Nordic, Ink, Light };

    constexpr AppTheme(Case c = Standard) : m_case(c) {}

    // Only the exact display names are accepted.
    static std::optional<AppTheme> fromRawValue(QStringView raw);
    static const QList<AppTheme> &allCases();

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    bool isLight() const { return m_case == Light; }

    ThemeColor accentColor() const;
    ThemeColor secondaryAccent() const;
    BackgroundMaterial backgroundMaterial() const;
    ThemeColor sidebarBackground() const;
    ThemeColor contentBackground() const;
    ThemeColor textColor() const;
    ThemeColor secondaryTextColor() const;
    ThemeColor cardBackground() const;
    ThemeColor dividerColor() const;

    // The theme after this one in allCases(), wrapping after the last.
    AppTheme next() const;

    constexpr bool operator==(const AppTheme &) const = default;

private:
    Case m_case;
};
