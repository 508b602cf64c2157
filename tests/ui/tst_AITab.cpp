// The popover's AI tab over the real services: the sandbox's servers, the protections'
// switches and what they say, the 320-point fit, the services it makes on demand, and the
// keyboard.

#include "caches/BuildCacheService.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "support/AIScreens.h"
#include "support/FakeHttpServer.h"
#include "support/NamedProcesses.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QTcpSocket>
#include <QTest>

#include <filesystem>
#include <optional>

#include <sys/stat.h>

class TestAITab : public QObject
{
    Q_OBJECT

    NamedProcesses children;
    QProcess *startNamed(const FixtureTree &tree, const QString &name) { return children.start(tree, name); }

private Q_SLOTS:
    void cleanup() { children.stopAll(); }

    // With the sandbox switch on, Servers shows the sample ports, companions and latency
    // rows; the sample vector databases too, as no container tool answers here.
    void sandboxServers()
    {
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        QVERIFY(localAI.demoMode());
        bool passed = false;
        QVERIFY(localAI.runPass([&passed] { passed = true; }));
        QTRY_VERIFY_WITH_TIMEOUT(passed, 10000);

        LatencySources latencySources;
        latencySources.ports = [&localAI] { return localAI.activeLocalPorts(); };
        latencySources.demoMode = [&localAI] { return localAI.demoMode(); };
        LocalAPILatencyService latency(latencySources, LocalAPILatencyService::Polling::Manual);
        bool measured = false;
        latency.measureLatencies([&measured] { measured = true; });
        QTRY_VERIFY_WITH_TIMEOUT(measured, 5000);

        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        set.latencyProbe = &latency;
        QmlPageHarness harness(set, {320, 620});
        QQuickItem *tab = harness.load(QStringLiteral("AITabView"));
        QVERIFY(tab);
        QCOMPARE(QmlPageHarness::text(tab, "statusBadge"), localAI.statusText());
        tab->setProperty("selectedSubTab", 3);
        QmlPageHarness::dropUnloaded();

        QCOMPARE(QmlPageHarness::shown(tab, "portRow").size(), 5);
        QCOMPARE(QmlPageHarness::text(tab, "listenerCount"), QStringLiteral("5 Listeners"));
        QCOMPARE(QmlPageHarness::shown(tab, "companionRow").size(), 2);
        QCOMPARE(QmlPageHarness::shown(tab, "purgeCompanions").size(), 1);
        const QStringList statuses = texts(tab, "latencyRow", "latencyStatus");
        QCOMPARE(statuses, QStringList(5, QStringLiteral("Online")));
        for (const QString &value : texts(tab, "latencyRow", "latencyValue"))
            QVERIFY2(value.endsWith(QStringLiteral(" ms")) && value.count('.') == 1 && value.section('.', 1).size() == 5,
                     qPrintable(value));   // "%.2f ms"
        QCOMPARE(QmlPageHarness::shown(tab, "vectorDbRow").size(), 2);
        QCOMPARE(QmlPageHarness::text(tab, "vectorDbCount"), QStringLiteral("2 Active"));

        // Killing a sample port's owner removes its row.
        QVERIFY(click(QmlPageHarness::shown(tab, "killPort").first()));
        QTRY_COMPARE(QmlPageHarness::shown(tab, "portRow").size(), 4);
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // A model server that is not there reads Offline, and the line under the header says
    // why without taking the title's room.
    void offlineSaysWhy()
    {
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        bool listed = false;
        localAI.updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set, {296, 560});
        QQuickItem *tab = harness.load(QStringLiteral("AITabView"));
        QVERIFY(tab);
        QCOMPARE(QmlPageHarness::text(tab, "statusBadge"), QStringLiteral("Offline"));
        QCOMPARE(QmlPageHarness::shown(tab, "statusReason").size(), 1);
        QCOMPARE(QmlPageHarness::text(tab, "statusReason"), QStringLiteral("Not running"));
        QTest::qWait(20);
        QCOMPARE(QmlPageHarness::property(tab, "aiTitle", "truncated").toBool(), false);
        QVERIFY(QmlPageHarness::shown(tab, "sandboxBadge").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The tab fits its 320-point popover: on every sub-page no text reaches past the
    // edges, and a long text is elided or wrapped rather than cut.
    void aiTabFitsThePopover()
    {
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        bool passed = false;
        QVERIFY(localAI.runPass([&passed] { passed = true; }));
        QTRY_VERIFY_WITH_TIMEOUT(passed, 10000);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        LatencySources latencySources;
        latencySources.demoMode = [] { return true; };
        LocalAPILatencyService latency(latencySources, LocalAPILatencyService::Polling::Manual);
        set.latencyProbe = &latency;
        const BuildCacheSources cacheSources = cacheSourcesIn(fixture.tree);
        BuildCacheService caches(cacheSources, BuildCacheService::Polling::Manual);
        set.buildCaches = &caches;
        // The popover's content column: 320 points less its margins.
        QmlPageHarness harness(set, {296, 560});
        QQuickItem *tab = harness.load(QStringLiteral("AITabView"));
        QVERIFY(tab);
        // The header keeps its title whole beside the sandbox and status badges.
        QTest::qWait(20);
        QVERIFY(localAI.demoMode());
        QCOMPARE(QmlPageHarness::property(tab, "aiTitle", "truncated").toBool(), false);
        for (int sub = 0; sub < 4; ++sub) {
            tab->setProperty("selectedSubTab", sub);
            QmlPageHarness::dropUnloaded();
            QTest::qWait(20);
            QList<QQuickItem *> queue{tab};
            int checked = 0;
            while (!queue.isEmpty()) {
                QQuickItem *item = queue.takeFirst();
                if (!item->isVisible())
                    continue;
                queue += item->childItems();
                if (!item->inherits("QQuickText") || item->property("text").toString().isEmpty())
                    continue;
                const QRectF box = item->mapRectToItem(tab, QRectF(0, 0, item->width(), item->height()));
                QVERIFY2(box.left() >= -0.5 && box.right() <= tab->width() + 0.5,
                         qPrintable(QStringLiteral("sub-page %1: \"%2\" spans %3..%4 of %5").arg(sub)
                                        .arg(item->property("text").toString()).arg(box.left()).arg(box.right()).arg(tab->width())));
                // Text wider than its box must be elided or wrapped, never clipped.
                const bool fits = item->property("implicitWidth").toReal() <= item->width() + 0.5
                                  || item->property("truncated").toBool()
                                  || item->property("wrapMode").toInt() != 0;
                QVERIFY2(fits, qPrintable(QStringLiteral("sub-page %1: \"%2\" is cut").arg(sub).arg(item->property("text").toString())));
                ++checked;
            }
            QVERIFY(checked > 10);
        }
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The probe and the cache scanner are made only when the sub-page that shows them
    // first opens, not with the tab.
    void servicesMadeWhenTheirSubPageOpens()
    {
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        int latencyMade = 0, cachesMade = 0;
        std::unique_ptr<LocalAPILatencyService> latency;
        std::unique_ptr<BuildCacheService> caches;
        set.latencyProbe = QmlServices::Ref<LocalAPILatencyService>([&] {
            ++latencyMade;
            latency = std::make_unique<LocalAPILatencyService>(LatencySources{}, LocalAPILatencyService::Polling::Manual);
            return latency.get();
        });
        set.buildCaches = QmlServices::Ref<BuildCacheService>([&] {
            ++cachesMade;
            const BuildCacheSources sources = cacheSourcesIn(fixture.tree);
            caches = std::make_unique<BuildCacheService>(sources, BuildCacheService::Polling::Manual);
            return caches.get();
        });
        {
            QmlPageHarness harness(set, {296, 560});
            QQuickItem *tab = harness.load(QStringLiteral("AITabView"));
            QVERIFY(tab);
            tab->setProperty("selectedSubTab", 1);
            QCOMPARE(latencyMade + cachesMade, 0);
            tab->setProperty("selectedSubTab", 2);
            QCOMPARE(cachesMade, 1);
            QCOMPARE(latencyMade, 0);
            tab->setProperty("selectedSubTab", 3);
            tab->setProperty("selectedSubTab", 2);
            QCOMPARE(latencyMade, 1);
            QCOMPARE(cachesMade, 1);
            QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
        }
    }

    // Two AI processes held by the compile guard: the compiler card counts them. The
    // process card lists only the AI back ends of the table.
    void compileShieldAndBackends()
    {
        {
            LocalAIService probe({}, LocalAIService::Polling::Manual);
            if (!probe.getPIDs(LocalAIService::compilerNames()).isEmpty()
                || !probe.getPIDs(LocalAIService::localAIProcessNames()).isEmpty())
                QSKIP("a compiler or a local AI server is running on this machine");
        }
        FixtureTree tree;
        QVERIFY(startNamed(tree, QStringLiteral("ollama")));
        QVERIFY(startNamed(tree, QStringLiteral("ollama")));
        bool smartPauseOn = false;
        std::optional<double> cpuCelsius;
        LocalAISources sources = liveSources(QUrl(QStringLiteral("http://127.0.0.1:9")));
        sources.smartPauseEnabled = [&smartPauseOn] { return smartPauseOn; };
        sources.cpuTemperature = [&cpuCelsius] { return cpuCelsius; };
        LocalAIService localAI(sources, LocalAIService::Polling::Manual);
        localAI.setCompileAutoSuspendEnabled(true);

        ScreenFixture fixture;
        fixture.writeProcess(4101, "python3", 50);
        fixture.writeProcess(4102, "ollama_llama_se", 20);
        fixture.writeProcess(4103, "bash", 90);
        fixture.writeProcess(4104, "Xorg", 10);
        fixture.processes->updateProcesses();
        fixture.writeProcess(4101, "python3", 80);
        fixture.writeProcess(4102, "ollama_llama_se", 30);
        fixture.writeProcess(4103, "bash", 100);
        fixture.writeProcess(4104, "Xorg", 20);
        fixture.sample({50, 50, 50, 50});
        fixture.processes->updateProcesses();

        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set, {296, 900});
        QQuickItem *optimizer = harness.load(QStringLiteral("AIOptimizerView"));
        QVERIFY(optimizer);
        QObject *shield = QmlPageHarness::child(optimizer, "compileShieldCard");
        QVERIFY(shield);
        QCOMPARE(QmlPageHarness::text(shield, "protectionStatus"), QString());

        QVERIFY(startNamed(tree, QStringLiteral("clang")));
        localAI.checkAndApplyAutoSuspend();
        QCOMPARE(localAI.suspendedPIDs().size(), 2);
        QCOMPARE(QmlPageHarness::text(shield, "protectionStatus"),
                 QStringLiteral("VRAM Shield Active: Suspending 2 local AI process(es)"));
        localAI.setCompileAutoSuspendEnabled(false);
        localAI.checkAndApplyAutoSuspend();
        QCOMPARE(QmlPageHarness::text(shield, "protectionStatus"), QString());

        // The smart pause says when it holds the back ends, and stops saying so once cool.
        QObject *smart = QmlPageHarness::child(optimizer, "smartPauseCard");
        QVERIFY(smart);
        smartPauseOn = true;
        cpuCelsius = 91.0;
        localAI.applySmartPause();
        QCOMPARE(QmlPageHarness::text(smart, "protectionStatus"), QStringLiteral("Smart Pause Active: holding 2 local AI process(es)"));
        cpuCelsius = 70.0;
        localAI.applySmartPause();
        QCOMPARE(QmlPageHarness::text(smart, "protectionStatus"), QString());

        // The switch drives the service.
        QObject *turbo = QmlPageHarness::child(QmlPageHarness::child(optimizer, "buildTurboCard"), "protectionSwitch");
        QVERIFY(turbo && !localAI.buildTurboEnabled());
        QVERIFY(flip(turbo));
        QVERIFY(localAI.buildTurboEnabled());
        QCOMPARE(turbo->property("checked").toBool(), true);
        QVERIFY(flip(turbo));
        QVERIFY(!localAI.buildTurboEnabled());
        QCOMPARE(turbo->property("checked").toBool(), false);

        QQuickItem *processes = harness.load(QStringLiteral("AIProcessesCard"), {}, 296);
        QVERIFY(processes);
        QStringList shownNames;
        for (QObject *row : QmlPageHarness::shown(processes, "aiProcessRow"))
            shownNames << row->property("processName").toString();
        shownNames.sort();
        QCOMPARE(shownNames, (QStringList{"ollama_llama_se", "python3"}));
        QCOMPARE(QmlPageHarness::text(processes, "backendCount"), QStringLiteral("2 backends detected"));
        QVERIFY(QmlPageHarness::shown(processes, "aiProcessesEmpty").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The sub-page bar from the keyboard: Tab reaches it, arrows move along it, Space and
    // Enter pick a sub-page; each button and switch has a name for screen readers.
    void subPagesFromTheKeyboard()
    {
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        LocalAPILatencyService latency(LatencySources{}, LocalAPILatencyService::Polling::Manual);
        set.latencyProbe = &latency;
        const BuildCacheSources cacheSources = cacheSourcesIn(fixture.tree);
        BuildCacheService caches(cacheSources, BuildCacheService::Polling::Manual);
        set.buildCaches = &caches;
        QmlPageHarness harness(set, {296, 560});
        harness.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(harness.window.get()));
        harness.window->requestActivate();
        QQuickItem *tab = harness.load(QStringLiteral("AITabView"));
        QVERIFY(tab);
        const QList<QObject *> buttons = QmlPageHarness::all(tab, "subTab");
        QCOMPARE(buttons.size(), 4);
        QStringList names;
        for (QObject *b : buttons)
            names << b->property("title").toString();
        QCOMPARE(names, (QStringList{"Telemetry", "Optimizer", "Caches", "Servers"}));

        auto *first = qobject_cast<QQuickItem *>(buttons.first());
        first->forceActiveFocus(Qt::TabFocusReason);
        QTRY_VERIFY(first->hasActiveFocus());
        QTest::keyClick(harness.window.get(), Qt::Key_Right);
        QCOMPARE(tab->property("selectedSubTab").toInt(), 1);
        QTest::keyClick(harness.window.get(), Qt::Key_Left);
        QTest::keyClick(harness.window.get(), Qt::Key_Left);
        QCOMPARE(tab->property("selectedSubTab").toInt(), 3);
        QTest::keyClick(harness.window.get(), Qt::Key_Tab);
        QTRY_VERIFY(qobject_cast<QQuickItem *>(buttons[1])->hasActiveFocus());
        QTest::keyClick(harness.window.get(), Qt::Key_Space);
        QTRY_COMPARE(tab->property("selectedSubTab").toInt(), 1);
        QTest::keyClick(harness.window.get(), Qt::Key_Tab);
        QTest::keyClick(harness.window.get(), Qt::Key_Return);
        QTRY_COMPARE(tab->property("selectedSubTab").toInt(), 2);

        // The optimizer's switches: Space flips the one that has the focus.
        tab->setProperty("selectedSubTab", 1);
        QmlPageHarness::dropUnloaded();
        auto *vmSwitch = qobject_cast<QQuickItem *>(
            QmlPageHarness::child(QmlPageHarness::child(tab, "vmSleepCard"), "protectionSwitch"));
        QVERIFY(vmSwitch && vmSwitch->activeFocusOnTab());
        QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(vmSwitch);
        QVERIFY(spoken);
        QCOMPARE(spoken->text(QAccessible::Name), QStringLiteral("Docker / Colima VM Auto-Sleep"));
        QCOMPARE(spoken->role(), QAccessible::CheckBox);
        vmSwitch->forceActiveFocus(Qt::TabFocusReason);
        QTRY_VERIFY(vmSwitch->hasActiveFocus());
        QTest::keyClick(harness.window.get(), Qt::Key_Space);
        QVERIFY(localAI.vmAutoSleepEnabled());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }
};

QTEST_MAIN(TestAITab)
#include "tst_AITab.moc"
