#pragma once

#include "AppTheme.h"

#include <QObject>
#include <QStringList>

class Preferences;

// Holds the theme every screen draws with, and keeps it in the "appTheme" preference.
// Colours are published as "#AARRGGBB" strings so QML can bind to them directly.
class ThemeManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString currentTheme READ currentThemeName WRITE setCurrentThemeName NOTIFY currentThemeChanged)
    Q_PROPERTY(QStringList allThemes READ allThemes CONSTANT)
    Q_PROPERTY(bool isLight READ isLight NOTIFY currentThemeChanged)
    Q_PROPERTY(bool translucentBackground READ translucentBackground NOTIFY currentThemeChanged)
    Q_PROPERTY(QString accentColor READ accentColor NOTIFY currentThemeChanged)
    Q_PROPERTY(QString secondaryAccent READ secondaryAccent NOTIFY currentThemeChanged)
    Q_PROPERTY(QString sidebarBackground READ sidebarBackground NOTIFY currentThemeChanged)
    Q_PROPERTY(QString contentBackground READ contentBackground NOTIFY currentThemeChanged)
    Q_PROPERTY(QString textColor READ textColor NOTIFY currentThemeChanged)
    Q_PROPERTY(QString secondaryTextColor READ secondaryTextColor NOTIFY currentThemeChanged)
    Q_PROPERTY(QString cardBackground READ cardBackground NOTIFY currentThemeChanged)
    Q_PROPERTY(QString dividerColor READ dividerColor NOTIFY currentThemeChanged)

public:
    // Reads "appTheme" once; an absent or unknown value means Standard. Nothing is written.
    explicit ThemeManager(Preferences &preferences, QObject *parent = nullptr);

    static ThemeManager &shared();

    AppTheme currentTheme() const { return m_theme; }
    // Notifies only on a change, but writes the preference on every assignment.
    void setCurrentTheme(AppTheme theme);

    QString currentThemeName() const { return m_theme.rawValue(); }
    // Names that are no theme are ignored.
    void setCurrentThemeName(const QString &raw);

    // The header's theme button: the next theme, wrapping after the last.
    Q_INVOKABLE void selectNextTheme();

    QStringList allThemes() const;
    bool isLight() const { return m_theme.isLight(); }
    bool translucentBackground() const { return m_theme.backgroundMaterial().translucent; }
    QString accentColor() const { return m_theme.accentColor().name(); }
    QString secondaryAccent() const { return m_theme.secondaryAccent().name(); }
    QString sidebarBackground() const { return m_theme.sidebarBackground().name(); }
    QString contentBackground() const { return m_theme.contentBackground().name(); }
    QString textColor() const { return m_theme.textColor().name(); }
    QString secondaryTextColor() const { return m_theme.secondaryTextColor().name(); }
    QString cardBackground() const { return m_theme.cardBackground().name(); }
    QString dividerColor() const { return m_theme.dividerColor().name(); }

Q_SIGNALS:
    void currentThemeChanged();

private:
    Preferences &m_preferences;
    AppTheme m_theme;
};
