#include "AppTheme.h"

#include <algorithm>
#include <cmath>

namespace {
// The desktop's named system colours, in their dark and light appearances.
constexpr ThemeColor kBlueDark{0.04, 0.52, 1.0, 1.0};
constexpr ThemeColor kBlueLight{0.0, 0.48, 1.0, 1.0};
constexpr ThemeColor kPurpleDark{0.75, 0.35, 0.95, 1.0};
constexpr ThemeColor kIndigoLight{0.35, 0.34, 0.84, 1.0};
constexpr ThemeColor kLabelDark{1.0, 1.0, 1.0, 1.0};
constexpr ThemeColor kSecondaryLabelDark{0.92, 0.92, 0.96, 0.6};
constexpr ThemeColor kSecondaryLabelLight{0.24, 0.24, 0.26, 0.6};

int channel(double v)
{
    return std::clamp(static_cast<int>(std::lround(v * 255.0)), 0, 255);
}
}

QString ThemeColor::name() const
{
    return QStringLiteral("#%1%2%3%4")
        .arg(channel(alpha), 2, 16, QLatin1Char('0'))
        .arg(channel(red), 2, 16, QLatin1Char('0'))
        .arg(channel(green), 2, 16, QLatin1Char('0'))
        .arg(channel(blue), 2, 16, QLatin1Char('0'));
}

const QList<AppTheme> &AppTheme::allCases()
{
    static const QList<AppTheme> cases{Standard, Cyberpunk, Nordic, Ink, Light};
    return cases;
}

std::optional<AppTheme> AppTheme::fromRawValue(QStringView raw)
{
    for (const AppTheme &theme : allCases())
        if (theme.rawValue() == raw)
            return theme;
    return std::nullopt;
}

QString AppTheme::rawValue() const
{
    switch (m_case) {
    case Standard: return QStringLiteral("Standard");
    case Cyberpunk: return QStringLiteral("Cyberpunk");
    case Nordic: return QStringLiteral("Nordic");
    case Ink: return QStringLiteral("Ink");
    case Light: return QStringLiteral("Light");
    }
    return QStringLiteral("Standard");
}

ThemeColor AppTheme::accentColor() const
{
    switch (m_case) {
    case Standard: return kBlueDark;
    case Cyberpunk: return {0.0, 0.95, 1.0, 1.0};
    case Nordic: return {0.53, 0.75, 0.82, 1.0};
    case Ink: return kLabelDark;
    case Light: return kBlueLight;
    }
    return kBlueDark;
}

ThemeColor AppTheme::secondaryAccent() const
{
    switch (m_case) {
    case Standard: return kPurpleDark;
    case Cyberpunk: return {0.74, 0.0, 1.0, 1.0};
    case Nordic: return {0.56, 0.64, 0.51, 1.0};
    case Ink: return kSecondaryLabelDark;
    case Light: return kIndigoLight;
    }
    return kPurpleDark;
}

BackgroundMaterial AppTheme::backgroundMaterial() const
{
    switch (m_case) {
    case Standard: return {QStringLiteral("popover"), 6, true};
    case Cyberpunk: return {QStringLiteral("underWindowBackground"), 21, true};
    case Nordic: return {QStringLiteral("hudWindow"), 13, true};
    case Ink: return {QStringLiteral("contentBackground"), 18, false};
    case Light: return {QStringLiteral("titlebar"), 3, false};
    }
    return {QStringLiteral("popover"), 6, true};
}

ThemeColor AppTheme::sidebarBackground() const
{
    return isLight() ? ThemeColor{0.94, 0.94, 0.96, 1.0} : ThemeColor{0.04, 0.04, 0.06, 1.0};
}

ThemeColor AppTheme::contentBackground() const
{
    return isLight() ? ThemeColor{0.98, 0.98, 1.0, 1.0} : ThemeColor{0.06, 0.07, 0.10, 1.0};
}

ThemeColor AppTheme::textColor() const
{
    return isLight() ? ThemeColor{0, 0, 0, 1.0} : ThemeColor{1, 1, 1, 1.0};
}

ThemeColor AppTheme::secondaryTextColor() const
{
    return isLight() ? kSecondaryLabelLight : kSecondaryLabelDark;
}

ThemeColor AppTheme::cardBackground() const
{
    return isLight() ? ThemeColor{0, 0, 0, 0.04} : ThemeColor{1, 1, 1, 0.05};
}

ThemeColor AppTheme::dividerColor() const
{
    return isLight() ? ThemeColor{0, 0, 0, 0.08} : ThemeColor{1, 1, 1, 0.15};
}

AppTheme AppTheme::next() const
{
    const QList<AppTheme> &cases = allCases();
    const qsizetype i = cases.indexOf(*this);
    return cases.at((i + 1) % cases.size());
}
