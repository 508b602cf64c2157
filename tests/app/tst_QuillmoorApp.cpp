#include "app/AppDelegate.h"
#include "app/Preferences.h"
#include "app/QuillmoorApp.h"
#include "localai/LocalAIService.h"
#include "presets/PresetManager.h"
#include "telemetry/PingService.h"
#include "telemetry/SystemStatsProvider.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

// The application object wires the shared services, so the user's real settings folder
// is swapped for a temporary one before anything touches it.
class TestQuillmoorApp : public QObject
{
    Q_OBJECT

    QTemporaryDir config;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Quillmoor"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillmoor"));
    }

    void launchBuildsPresetMenuAndDashboard()
    {
        // Everything that would reach beyond this machine is replaced: no public-address
        // fetch, no ping to the internet, no system bus, no Ollama.
        Preferences prefs(new QSettings(config.filePath(QStringLiteral("app.conf")), QSettings::IniFormat));
        SystemStatsProvider stats(prefs, TelemetrySources{}, SystemStatsProvider::Polling::Manual);
        LocalAISources ai;
        ai.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        ai.searchPath = QStringList{};
        LocalAIService localAI(ai, LocalAIService::Polling::Manual);
        PingSources target;
        target.host = QStringLiteral("127.0.0.1");
        PingService ping(target, PingService::Polling::Manual);
        PresetSources presetSources;
        presetSources.terminalSearchPath = QStringList{};
        presetSources.preferredTerminal = QString();
        PresetManager presets(presetSources);
        AppServices services;
        services.stats = &stats;
        services.preferences = &prefs;
        services.localAI = &localAI;
        services.ping = &ping;
        services.presets = &presets;
        QuillmoorApp app(services);
        app.launch();

        QMenu *menu = app.presetMenu();
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Performance Presets"));
        QStringList names;
        QStringList checked;
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 10);   // seven presets, a divider, two status lines
        for (QAction *action : actions.mid(0, 7)) {
            names << action->text();
            if (action->isChecked())
                checked << action->text();
            QVERIFY(!action->icon().isNull());
        }
        // "&" is doubled so the menu shows it instead of taking it for a mnemonic.
        QCOMPARE(names, (QStringList{"Inference Max (Optimize VRAM && Max Fans)",
                                     "Local Training (Sleep Overrides && Core Boosting)",
                                     "Compile Max (Suspend Background Engines && Boost Build)",
                                     "Creative Max (Flush VRAM && Prioritize Renderers)",
                                     "Game Mode (Suspend Heavy Processes && Spool Fans)",
                                     "Eco Dev (Battery Saver && Pause Daemons)",
                                     "Vanilla Mac (Restore Defaults && Clean Helpers)"}));
        QCOMPARE(checked, QStringList{"Vanilla Mac (Restore Defaults && Clean Helpers)"});
        QVERIFY(actions.at(7)->isSeparator());
        QCOMPARE(actions.at(8)->text(), QStringLiteral("Active State: Idle"));
        QVERIFY(actions.at(9)->text().startsWith(QStringLiteral("Macbook Battery: ")));
        QVERIFY(!actions.at(8)->isEnabled());

        // Choosing an entry applies that preset, and the check follows.
        menu->actions().at(4)->trigger();   // Game Mode
        QCOMPARE(presets.activePreset(), PerformancePreset(PerformancePreset::GameMode));
        QCOMPARE(presets.currentStatus(), QStringLiteral("Game Mode active — system RAM optimized"));
        QVERIFY(menu->actions().at(4)->isChecked());
        QVERIFY(!menu->actions().at(6)->isChecked());
        QCOMPARE(menu->actions().at(8)->text(), QStringLiteral("Active State: Game Mode active — system RAM optimized"));
        // The active preset's entry still applies it.
        QSignalSpy executing(&presets, &PresetManager::isExecutingChanged);
        menu->actions().at(4)->trigger();
        QTRY_VERIFY(executing.count() >= 2);   // started and finished again

        // The delegate ran its start-up: the dashboard is open, the popover built and closed.
        QVERIFY(app.appDelegate()->dashboardWindow());
        QVERIFY(app.appDelegate()->dashboardWindow()->isVisible());
        QVERIFY(app.appDelegate()->popover());
        QVERIFY(!app.appDelegate()->isPopoverShown());
    }
};

QTEST_MAIN(TestQuillmoorApp)
#include "tst_QuillmoorApp.moc"
