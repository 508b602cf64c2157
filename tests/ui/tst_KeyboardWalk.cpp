#include "caches/BuildCacheService.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QQuickItem>
#include <QTest>

#include <memory>

// Each dashboard page driven by the Tab key alone: every control the page shows is reached,
// each says what it is to a screen reader, and the page scrolls to whatever has the focus.
class TestKeyboardWalk : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<LocalAIService> localAI;
    std::unique_ptr<LocalAPILatencyService> latency;
    std::unique_ptr<LocalAPIProxyService> proxy;
    std::unique_ptr<BuildCacheService> caches;
    std::unique_ptr<QmlPageHarness> ui;

    // What Tab can land on: shown, enabled, and taking focus from the Tab key.
    static void focusables(QQuickItem *item, QList<QQuickItem *> &found)
    {
        if (!item->isVisible() || !item->isEnabled())
            return;
        if (item->activeFocusOnTab())
            found.append(item);
        for (QQuickItem *child : item->childItems())
            focusables(child, found);
    }
    static QString accessibleName(QQuickItem *item)
    {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(item);
        return a ? a->text(QAccessible::Name) : QString();
    }
    static QString describe(QQuickItem *item)
    {
        return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(item->metaObject()->className()), item->objectName());
    }

private Q_SLOTS:
    void init()
    {
        machine = std::make_unique<ScreenFixture>();
        machine->preferences->setHasCompletedOnboardingTour(true);
        machine->sample({20, 10, 5, 0});
        machine->sample({30, 10, 5, 0});
        // Three busy processes, so the process rows and their buttons are there to reach.
        for (int round = 1; round <= 2; ++round) {
            for (int pid : {701, 702, 703})
                machine->writeProcess(pid, "p" + QByteArray::number(pid), quint64(round * (pid - 690)), 1000);
            machine->processes->updateProcesses();
        }
        // The AI pages over the sandbox's sample workspace: models, ports and servers to reach.
        LocalAISources aiSources;
        aiSources.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));
        aiSources.searchPath = QStringList{};
        localAI = std::make_unique<LocalAIService>(aiSources, LocalAIService::Polling::Manual);
        bool passed = false;
        QVERIFY(localAI->runPass([&passed] { passed = true; }));
        QTRY_VERIFY_WITH_TIMEOUT(passed, 10000);
        LatencySources latencySources;
        latencySources.demoMode = [] { return true; };
        latency = std::make_unique<LocalAPILatencyService>(latencySources, LocalAPILatencyService::Polling::Manual);
        bool measured = false;
        latency->measureLatencies([&measured] { measured = true; });
        QTRY_VERIFY_WITH_TIMEOUT(measured, 5000);
        proxy = std::make_unique<LocalAPIProxyService>();
        BuildCacheSources cacheSources;
        cacheSources.homePath = machine->tree.path();
        cacheSources.environment = [](const char *) { return QString(); };
        cacheSources.ollamaServiceStores = {};
        caches = std::make_unique<BuildCacheService>(cacheSources, BuildCacheService::Polling::Manual);
        QmlServices::Set set = machine->services();
        set.localAI = localAI.get();
        set.latencyProbe = latency.get();
        set.proxy = proxy.get();
        set.buildCaches = caches.get();
        ui = std::make_unique<QmlPageHarness>(set, QSize(760, 480));
        ui->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(ui->window.get()));
        ui->window->requestActivate();
    }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        caches.reset();
        proxy.reset();
        latency.reset();
        localAI.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void tabReachesEveryControl_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("hasControls");
        for (const char *page : {"SensorsPage", "MemoryPage", "HistoryPage", "SystemInfoPage", "SettingsPage",
                                 "AIModelsPage", "APISentinelPage", "CoPilotPage"})
            QTest::newRow(page) << QString::fromLatin1(page) << true;
        // Here these show only switches the fixture's machine cannot honour (disabled, so
        // rightly skipped by Tab) and no connections to kill; what they do show is walked.
        for (const char *page : {"PowerPage", "NetworkPage", "FansPage", "AIHardwarePage", "GuidePage"})
            QTest::newRow(page) << QString::fromLatin1(page) << false;
    }
    void tabReachesEveryControl()
    {
        QFETCH(QString, page);
        QFETCH(bool, hasControls);
        QQuickItem *root = ui->load(page);
        QVERIFY(root);
        QTest::qWait(50);   // layouts settle, so what is shown is known
        QList<QQuickItem *> controls;
        focusables(root, controls);
        QCOMPARE(!controls.isEmpty(), hasControls);
        if (controls.isEmpty())
            return;

        QQuickItem *first = root->nextItemInFocusChain(true);
        QVERIFY(first);
        first->forceActiveFocus(Qt::TabFocusReason);
        QTRY_VERIFY(first->hasActiveFocus());

        auto *flickable = root->property("contentItem").value<QQuickItem *>();
        QVERIFY(flickable);
        QSet<QQuickItem *> reached;
        for (int step = 0; step <= controls.size() + 2; ++step) {
            QQuickItem *focused = ui->window->activeFocusItem();
            QVERIFY(focused);
            // Focus can sit inside a control (a text field's editor): credit the control.
            QQuickItem *control = focused;
            while (control && !controls.contains(control))
                control = control->parentItem();
            if (control) {
                reached.insert(control);
                QVERIFY2(!accessibleName(control).isEmpty(), qPrintable(describe(control) + " has no accessible name"));
                // Scrolled into view: a control the user tabs to is one they can see.
                const QRectF inView = control->mapRectToItem(flickable, QRectF(0, 0, control->width(), control->height()));
                QVERIFY2(inView.top() >= -1 && inView.bottom() <= flickable->height() + 1,
                         qPrintable(describe(control) + " has the focus out of view"));
            }
            QTest::keyClick(ui->window.get(), Qt::Key_Tab);
        }
        for (QQuickItem *control : std::as_const(controls))
            QVERIFY2(reached.contains(control), qPrintable(describe(control) + " is never reached by Tab"));
    }
};

QTEST_MAIN(TestKeyboardWalk)
#include "tst_KeyboardWalk.moc"
