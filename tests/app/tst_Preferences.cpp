#include "app/AppTheme.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "app/WorkspacePersona.h"
#include "support/StdoutCapture.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {
QStringList titles(const QList<SidebarEntry> &entries)
{
    QStringList out;
    for (const SidebarEntry &e : entries)
        out << e.title;
    return out;
}
}

class TestPreferences : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;
    QString file;

    QSettings *settings() { return new QSettings(file, QSettings::IniFormat); }

private Q_SLOTS:
    void init() { file = dir.filePath(QStringLiteral("p%1.conf").arg(++counter)); }

    void freshInstallDefaults()
    {
        Preferences prefs(settings());
        QCOMPARE(prefs.appTheme(), QStringLiteral("Standard"));
        QCOMPARE(prefs.workspacePersona(), QStringLiteral("AI Engineer"));
        QCOMPARE(prefs.cpuAlertThreshold(), 90.0);
        QCOMPARE(prefs.advancedMode(), false);
        QCOMPARE(prefs.showFullProcessPath(), false);
        QCOMPARE(prefs.showOnboardingTour(), false);
        QCOMPARE(prefs.onboardingTourStep(), 0);
        QCOMPARE(prefs.hasCompletedOnboardingTour(), false);
        QCOMPARE(prefs.smartPauseEnabled(), false);
        QCOMPARE(prefs.baselineCpuUsage(), 0.0);
        QCOMPARE(prefs.baselineTemp(), 0.0);
    }

    // A settings file edited by hand: numbers out of range are brought into it, non-numbers
    // and non-finite ones go back to their defaults, each said once, and the file is mended.
    void storedNumbersAreSanitised()
    {
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue("cpuAlertThreshold", -5);
            raw.setValue("baselineCpuUsage", "nan");
            raw.setValue("baselineTemp", "inf");
            raw.setValue("onboardingTourStep", 99);
            raw.setValue("advancedMode", true);
        }
        StdoutCapture out;
        Preferences prefs(settings());
        const QByteArray said = out.text();
        QCOMPARE(prefs.cpuAlertThreshold(), 50.0);
        QCOMPARE(prefs.baselineCpuUsage(), 0.0);
        QCOMPARE(prefs.baselineTemp(), 0.0);
        QCOMPARE(prefs.onboardingTourStep(), 5);
        QVERIFY(prefs.advancedMode());
        QCOMPARE(said.count('\n'), 4);
        QVERIFY2(said.contains("cpuAlertThreshold=-5 is out of range; using 50"), said.constData());
        QVERIFY2(said.contains("baselineTemp=inf"), said.constData());
        prefs.flush();
        QSettings mended(file, QSettings::IniFormat);
        QCOMPARE(mended.value("cpuAlertThreshold").toDouble(), 50.0);
        QCOMPARE(mended.value("onboardingTourStep").toInt(), 5);

        // A clean file says nothing.
        StdoutCapture quiet;
        Preferences again(settings());
        QCOMPARE(quiet.text(), QByteArray());

        // Written values are held to the same ranges; a NaN never reaches a baseline.
        again.setCpuAlertThreshold(250);
        QCOMPARE(again.cpuAlertThreshold(), 100.0);
        again.setBaselineTemp(41.0);
        again.setBaselineTemp(std::numeric_limits<double>::quiet_NaN());
        again.setBaselineCpuUsage(std::numeric_limits<double>::infinity());
        QCOMPARE(again.baselineTemp(), 41.0);
        QCOMPARE(again.baselineCpuUsage(), 0.0);
        again.setOnboardingTourStep(-3);
        QCOMPARE(again.onboardingTourStep(), 0);
    }

    void writesPersistAndNotifyOnce()
    {
        {
            Preferences prefs(settings());
            QSignalSpy spy(&prefs, &Preferences::advancedModeChanged);
            prefs.setAdvancedMode(true);
            prefs.setAdvancedMode(true);
            QCOMPARE(spy.count(), 1);
            prefs.setCpuAlertThreshold(72.5);
            prefs.setOnboardingTourStep(3);
            prefs.setWorkspacePersona(QStringLiteral("Gamer"));
        }
        Preferences again(settings());
        QCOMPARE(again.advancedMode(), true);
        QCOMPARE(again.cpuAlertThreshold(), 72.5);
        QCOMPARE(again.onboardingTourStep(), 3);
        QCOMPARE(again.workspacePersona(), QStringLiteral("Gamer"));
    }

    void unknownPersonaReadsAsDefault()
    {
        Preferences prefs(settings());
        prefs.setWorkspacePersona(QStringLiteral("Astronaut"));
        QCOMPARE(prefs.workspacePersona(), QStringLiteral("AI Engineer"));
    }

    void baselinesAreWrittenOnFlush()
    {
        Preferences prefs(settings());
        prefs.setBaselineCpuUsage(12.5);
        prefs.setBaselineTemp(48.0);
        QSettings raw(file, QSettings::IniFormat);
        QVERIFY(!raw.contains(QStringLiteral("baselineCpuUsage")));   // not on every tick
        prefs.flush();
        raw.sync();
        QCOMPARE(raw.value(QStringLiteral("baselineCpuUsage")).toDouble(), 12.5);
        QCOMPARE(raw.value(QStringLiteral("baselineTemp")).toDouble(), 48.0);
    }

    void unknownThemeStartsStandardAndIsLeftAlone()
    {
        {
            QSettings raw(file, QSettings::IniFormat);
            raw.setValue(QStringLiteral("appTheme"), QStringLiteral("Solarized"));
        }
        Preferences prefs(settings());
        ThemeManager themes(prefs);
        QCOMPARE(themes.currentTheme(), AppTheme(AppTheme::Standard));
        QCOMPARE(prefs.appTheme(), QStringLiteral("Solarized"));
        themes.setCurrentThemeName(QStringLiteral("also unknown"));
        QCOMPARE(prefs.appTheme(), QStringLiteral("Solarized"));
    }

    void storedThemeIsRestored()
    {
        {
            Preferences prefs(settings());
            ThemeManager(prefs).setCurrentTheme(AppTheme::Nordic);
        }
        Preferences prefs(settings());
        QCOMPARE(ThemeManager(prefs).currentThemeName(), QStringLiteral("Nordic"));
    }

    void assignmentWritesAlwaysNotifiesOnChange()
    {
        Preferences prefs(settings());
        ThemeManager themes(prefs);
        QSignalSpy spy(&themes, &ThemeManager::currentThemeChanged);
        themes.setCurrentTheme(AppTheme::Standard);
        QCOMPARE(spy.count(), 0);
        prefs.flush();
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("appTheme")).toString(), QStringLiteral("Standard"));
        themes.setCurrentTheme(AppTheme::Light);
        QCOMPARE(spy.count(), 1);
    }

    void nextThemeWraps()
    {
        Preferences prefs(settings());
        ThemeManager themes(prefs);
        QStringList seen;
        for (int i = 0; i < 6; ++i) {
            seen << themes.currentThemeName();
            themes.selectNextTheme();
        }
        QCOMPARE(seen, (QStringList{"Standard", "Cyberpunk", "Nordic", "Ink", "Light", "Standard"}));
    }

    void themeRawValuesAreExact()
    {
        QCOMPARE(AppTheme::allCases().size(), 5);
        for (const AppTheme &t : AppTheme::allCases())
            QCOMPARE(AppTheme::fromRawValue(t.rawValue()), t);
        QVERIFY(!AppTheme::fromRawValue(u"light"));
        QVERIFY(!AppTheme::fromRawValue(u""));
    }

    void lightPaletteOnlyForLight()
    {
        const AppTheme light(AppTheme::Light);
        QVERIFY(light.isLight());
        QCOMPARE(light.sidebarBackground(), (ThemeColor{0.94, 0.94, 0.96, 1.0}));
        QCOMPARE(light.textColor(), (ThemeColor{0, 0, 0, 1}));
        QCOMPARE(light.textColor().name(), QStringLiteral("#ff000000"));
        for (const AppTheme &t : AppTheme::allCases()) {
            if (t.isLight())
                continue;
            QCOMPARE(t.sidebarBackground(), (ThemeColor{0.04, 0.04, 0.06, 1.0}));
            QCOMPARE(t.contentBackground(), (ThemeColor{0.06, 0.07, 0.10, 1.0}));
            QCOMPARE(t.textColor().name(), QStringLiteral("#ffffffff"));
            QCOMPARE(t.dividerColor(), (ThemeColor{1, 1, 1, 0.15}));
        }
        QCOMPARE(AppTheme(AppTheme::Cyberpunk).accentColor(), (ThemeColor{0.0, 0.95, 1.0, 1.0}));
        QCOMPARE(AppTheme(AppTheme::Nordic).secondaryAccent(), (ThemeColor{0.56, 0.64, 0.51, 1.0}));
        QCOMPARE(AppTheme(AppTheme::Cyberpunk).backgroundMaterial().appKitRawValue, 21);
    }

    void personaSidebars()
    {
        const WorkspacePersona gamer(WorkspacePersona::Gamer);
        QCOMPARE(titles(gamer.personaTools()), QStringList{"Performance Presets"});
        QCOMPARE(titles(gamer.systemMonitorItems()), (QStringList{"Sensors", "Memory", "Game Caches", "Fans & Cooling", "Power"}));

        const WorkspacePersona creator(WorkspacePersona::Creator);
        QVERIFY(!titles(creator.systemMonitorItems()).contains("Network"));
        QCOMPARE(titles(creator.personaTools()), (QStringList{"Performance Presets", "VRAM Shield"}));

        const WorkspacePersona engineer;   // the default
        QCOMPARE(engineer.rawValue(), QStringLiteral("AI Engineer"));
        QCOMPARE(engineer.sectionTitle(), QStringLiteral("AI INTELLIGENCE"));
        QCOMPARE(titles(engineer.personaTools()),
                 (QStringList{"AI Hardware", "AI Models", "Performance Presets", "API Sentinel", "AI Co-Pilot"}));
        QCOMPARE(engineer.personaTools().first().symbol, QStringLiteral("cpu"));
        QCOMPARE(titles(WorkspacePersona(WorkspacePersona::Developer).systemMonitorItems()).at(2), QStringLiteral("Developer Caches"));
        QCOMPARE(titles(WorkspacePersona::utilityItems()), (QStringList{"System Info", "Help Guide", "Settings"}));
        QCOMPARE(WorkspacePersona::fromRawValue(u"Software Developer"), WorkspacePersona(WorkspacePersona::Developer));
        QVERIFY(!WorkspacePersona::fromRawValue(u"Developer"));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_Preferences.moc"
