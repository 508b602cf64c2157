#include "ThemeManager.h"

#include "Preferences.h"

ThemeManager::ThemeManager(Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_theme(AppTheme::fromRawValue(preferences.appTheme()).value_or(AppTheme::Standard))
{
}

void ThemeManager::setCurrentTheme(AppTheme theme)
{
    const bool changed = theme != m_theme;
    m_theme = theme;
    m_preferences.setAppTheme(theme.rawValue());
    if (changed)
        Q_EMIT currentThemeChanged();
}

void ThemeManager::setCurrentThemeName(const QString &raw)
{
    if (const auto theme = AppTheme::fromRawValue(raw))
        setCurrentTheme(*theme);
}

void ThemeManager::selectNextTheme()
{
    setCurrentTheme(m_theme.next());
}

QStringList ThemeManager::allThemes() const
{
    QStringList names;
    for (const AppTheme &theme : AppTheme::allCases())
        names << theme.rawValue();
    return names;
}
