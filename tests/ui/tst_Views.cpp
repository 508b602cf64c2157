#include "support/ScreenFixture.h"
#include "ui/Format.h"
#include "ui/PersonaCatalog.h"
#include "ui/QmlServices.h"
#include "ui/SymbolIcon.h"
#include "ui/SymbolImageProvider.h"
#include "app/WorkspacePersona.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <QJSEngine>
#include <QDir>

namespace {
// Every warning QML prints while a test runs: a misspelt binding, a TypeError, an
// unassignable property. Any one fails the test that caused it.
QStringList qmlWarnings;
QtMessageHandler previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        qmlWarnings.append(message);
    previousHandler(type, context, message);
}
}

class TestViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;

    QQuickItem *load(const QString &view, const QVariantMap &properties = {})
    {
        QQmlComponent component(engine.get(), QUrl(QStringLiteral("qrc:/Quillmoor/%1.qml").arg(view)));
        for (int i = 0; i < 500 && component.isLoading(); ++i)
            QTest::qWait(10);
        if (!component.isReady()) {
            qWarning() << component.errors();
            return nullptr;
        }
        auto *item = qobject_cast<QQuickItem *>(component.createWithInitialProperties(properties));
        if (!item)
            return nullptr;
        item->setParentItem(window->contentItem());
        item->setWidth(296);
        item->setParent(window.get());
        return item;
    }
    // Items a Repeater makes hang below their visual parent, not always their QObject one.
    static void collect(QObject *root, const QString &name, QList<QObject *> &found)
    {
        if (root->objectName() == name)
            found.append(root);
        for (QObject *c : root->children())
            collect(c, name, found);
        if (auto *item = qobject_cast<QQuickItem *>(root))
            for (QQuickItem *c : item->childItems())
                if (c->parent() != root)
                    collect(c, name, found);
    }
    static QList<QObject *> all(QObject *root, const char *name)
    {
        QList<QObject *> found;
        collect(root, QLatin1String(name), found);
        return found;
    }
    static QObject *child(QObject *root, const char *name)
    {
        const QList<QObject *> found = all(root, name);
        return found.isEmpty() ? nullptr : found.first();
    }
    static QString text(QObject *root, const char *name)
    {
        QObject *item = child(root, name);
        return item ? item->property("text").toString() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }
    static QString valueOf(QObject *root, const char *name)
    {
        QObject *item = child(root, name);
        return item ? item->property("value").toString() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }
    // A page a Loader let go of is deleted later; finish that, so lookups see what is shown.
    static void dropUnloaded() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static QList<QObject *> shownRows(QObject *root)
    {
        QList<QObject *> rows;
        for (QObject *row : all(root, "processRow"))
            if (row->property("visible").toBool())
                rows.append(row);
        return rows;
    }
    // Five processes, busiest first in pid order.
    QList<int> listFiveProcesses()
    {
        const QList<int> pids{4101, 4102, 4103, 4104, 4105};
        for (int pid : pids)
            machine->writeProcess(pid, "p" + QByteArray::number(pid), 0, 1000);
        machine->processes->updateProcesses();
        for (int i = 0; i < pids.size(); ++i)
            machine->writeProcess(pids[i], "p" + QByteArray::number(pids[i]), (5 - i) * 40, (i + 1) * 98304);
        QTest::qWait(20);
        machine->processes->updateProcesses();
        return pids;
    }

private Q_SLOTS:
    void initTestCase() { previousHandler = qInstallMessageHandler(recordWarnings); }

    void init() { use(std::make_unique<ScreenFixture>()); }

    // Without a fan sensor the fan figure follows the curve, and says so.
    void fanEstimateIsMarked()
    {
        use(std::make_unique<ScreenFixture>(false));
        machine->preferences->setAdvancedMode(true);
        QQuickItem *tab = load(QStringLiteral("CPUTabView"));
        QVERIFY(tab);
        machine->sample({10, 90, 40, 60});
        QVERIFY(!machine->stats->fanRPMsMeasured());
        QVERIFY2(valueOf(tab, "fanRow").startsWith(QStringLiteral("≈ ")), qPrintable(valueOf(tab, "fanRow")));
        QVERIFY(valueOf(tab, "fanRow").endsWith(QStringLiteral(" RPM")));
    }

private:
    void use(std::unique_ptr<ScreenFixture> fixture)
    {
        window.reset();
        engine.reset();
        qmlWarnings.clear();
        machine = std::move(fixture);
        engine = std::make_unique<QQmlEngine>();
        engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
        QmlServices::install(*engine, machine->services());
        window = std::make_unique<QQuickWindow>();
        window->resize(320, 620);
    }

private Q_SLOTS:
    void cleanup()
    {
        window.reset();
        engine.reset();
        machine.reset();
        QVERIFY2(qmlWarnings.isEmpty(), qPrintable(qmlWarnings.join(QLatin1Char('\n'))));
    }

    // Every file of the module loads, with the real services behind it and every page of
    // every persona opened in the dashboard, without one warning.
    void everyViewAndPageLoadsCleanly()
    {
        const QVariantMap required{{"AdvisoryView", QVariantMap{{"lines", QStringList{"echo hi"}}}},
                                   {"SettingsView", QVariantMap{{"initialTab", "Performance Presets"}}},
                                   {"NotAvailablePage", QVariantMap{{"title", "Sensors"}}}};
        QStringList loaded;
        QDirIterator files(QStringLiteral(":/Quillmoor"), {QStringLiteral("*.qml")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString view = files.next().mid(QStringLiteral(":/Quillmoor/").size()).chopped(4);
            QVERIFY2(load(view, required.value(view).toMap()), qPrintable(view));
            loaded << view;
        }
        QVERIFY2(loaded.contains("CPUTabView") && loaded.contains("PerformancePresetsPage"),
                 qPrintable(loaded.join(' ')));

        QQuickItem *dashboard = load(QStringLiteral("SettingsView"), {{"initialTab", "Settings"}});
        QVERIFY(dashboard);
        for (const WorkspacePersona &persona : WorkspacePersona::allCases()) {
            machine->preferences->setWorkspacePersona(persona.rawValue());
            for (const auto &entries : {persona.personaTools(), persona.systemMonitorItems(), WorkspacePersona::utilityItems()})
                for (const SidebarEntry &entry : entries) {
                    dashboard->setProperty("selectedSidebarItem", entry.title);
                    dropUnloaded();
                    QCOMPARE(text(dashboard, "pageTitle"), entry.title);
                    // Each title opens its page, or says plainly that this version has none.
                    const bool built = !PersonaCatalog::pageSource(entry.title).isEmpty();
                    QVERIFY2(built || text(dashboard, "notAvailableText").contains("not available"), qPrintable(entry.title));
                    QVERIFY(!PersonaCatalog::pageFor(entry.title).isEmpty());
                }
        }
        dashboard->setProperty("selectedSidebarItem", "Nowhere");
        dropUnloaded();
        QCOMPARE(text(dashboard, "notAvailableText"), QStringLiteral("There is no page called \u201cNowhere\u201d."));
        dashboard->setProperty("selectedSidebarItem", "Performance Presets");
        dropUnloaded();
        QCOMPARE(all(dashboard, "presetCard").size(), 7);
        QVERIFY(!child(dashboard, "notAvailableText"));
    }

    // A misspelt binding is caught by the same watch rather than showing nothing.
    void misspeltBindingIsCaught()
    {
        QQmlComponent component(engine.get());
        component.setData("import QtQuick\nimport Quillmoor\nText { text: Services.stats.cpuUsagee.toFixed(1) }", QUrl("qrc:/probe.qml"));
        std::unique_ptr<QObject> probe(component.create());
        QVERIFY(probe);
        QVERIFY(!qmlWarnings.isEmpty());
        qmlWarnings.clear();
    }

    void cpuTabFigures()
    {
        QQuickItem *tab = load(QStringLiteral("CPUTabView"));
        QVERIFY(tab);
        machine->sample({10, 90, 40, 60});
        QCOMPARE(machine->stats->cpuUsage(), 50.0);
        QCOMPARE(child(tab, "userLegend")->property("label").toString(), QStringLiteral("User"));
        QCOMPARE(child(tab, "systemLegend")->property("label").toString(), QStringLiteral("System"));
        // The fixture's busy time is all user time; a kernel-heavy interval reads as such.
        QCOMPARE(valueOf(tab, "userLegend"), QStringLiteral("50%"));
        QCOMPARE(valueOf(tab, "systemLegend"), QStringLiteral("0%"));
        machine->tree.write("proc/stat", "cpu0 1000 0 0 1000 0 0 0 0\n");
        machine->stats->updateStats();
        machine->tree.write("proc/stat", "cpu0 1010 5 60 1020 0 4 1 0\n");
        machine->stats->updateStats();
        QCOMPARE(machine->stats->cpuUsage(), 80.0);
        QCOMPARE(valueOf(tab, "userLegend"), QStringLiteral("15%"));
        QCOMPARE(valueOf(tab, "systemLegend"), QStringLiteral("65%"));
        QCOMPARE(text(tab, "clockText"), QStringLiteral("2.41 GHz, 61°"));
        for (int cpu = 0; cpu < 4; ++cpu)   // no cpufreq: no made-up clock
            machine->tree.remove(QStringLiteral("sys/devices/system/cpu/cpu%1/cpufreq/scaling_cur_freq").arg(cpu));
        machine->sample({10, 90, 40, 60});
        QCOMPARE(text(tab, "clockText"), QStringLiteral("61°"));

        QVERIFY(!child(tab, "advancedHardware")->property("visible").toBool());
        machine->preferences->setAdvancedMode(true);
        QVERIFY(child(tab, "advancedHardware")->property("visible").toBool());
        QCOMPARE(valueOf(tab, "fanRow"), QStringLiteral("2150 RPM"));
        QCOMPARE(valueOf(tab, "throttleRow"), QStringLiteral("0%"));

        // A new sample updates the gauges in place rather than building them again.
        QObject *pressure = child(tab, "ringLabel");
        QVERIFY(pressure);
        const QString before = pressure->property("text").toString();
        QCOMPARE(before, Format::percent(machine->stats->memoryPressure()));
        machine->setMemory(16, 1);
        machine->sample({10, 90, 40, 60});
        QCOMPARE(child(tab, "ringLabel"), pressure);
        QCOMPARE(pressure->property("text").toString(), Format::percent(machine->stats->memoryPressure()));
        QVERIFY(pressure->property("text").toString() != before);

        QCOMPARE(shownRows(tab).size(), 0);   // an empty table lists nothing
        listFiveProcesses();
        QCOMPARE(machine->processes->topProcesses().size(), 5);
        QCOMPARE(shownRows(tab).size(), 4);
        QCOMPARE(text(tab, "processValue"), Format::percent(machine->processes->topProcesses().first().cpuUsage, 1));
        QCOMPARE(text(tab, "processesHeader"), QStringLiteral("PROCESSES"));
        machine->processes->setIsPaused(true);
        QCOMPARE(text(tab, "processesHeader"), QStringLiteral("PROCESSES (Paused for interaction)"));
    }

    // A row whose process stays listed keeps its delegate, and with it an open insight,
    // when a sample changes its figures; a process that goes takes only its own row.
    void rowsSurviveSamples()
    {
        QQuickItem *tab = load(QStringLiteral("MemoryTabView"));
        QVERIFY(tab);
        const QList<int> pids = listFiveProcesses();
        const QList<QObject *> rows = shownRows(tab);
        QCOMPARE(rows.size(), 4);
        QObject *first = rows.first();
        QCOMPARE(first->property("processName").toString(), QStringLiteral("p4101"));
        QCOMPARE(text(first, "processValue"), QStringLiteral("0.4 GB"));   // 98,304 pages of 4 KiB
        QMetaObject::invokeMethod(first, "toggleExplanation");
        QTRY_VERIFY(first->property("explanationShown").toBool());

        // Its resident memory grows while two others overtake it: the row moves to third
        // place and is the same row, insight still open.
        machine->writeProcess(pids[0], "p4101", 200 + 10, 3 * 98304);
        machine->writeProcess(pids[1], "p4102", 160 + 60, 2 * 98304);
        machine->writeProcess(pids[2], "p4103", 120 + 50, 3 * 98304);
        QTest::qWait(20);
        machine->processes->updateProcesses();
        QCOMPARE(machine->processes->topProcesses().at(2).id, pids[0]);
        QCOMPARE(shownRows(tab).indexOf(first), 2);
        QCOMPARE(text(first, "processValue"), QStringLiteral("1.1 GB"));
        QVERIFY(first->property("explanationShown").toBool());

        machine->removeProcess(pids[2]);
        machine->processes->updateProcesses();
        const QList<QObject *> after = shownRows(tab);
        QCOMPARE(after.size(), 4);
        QCOMPARE(after.first(), first);
        QVERIFY(!after.contains(rows[2]));
        QVERIFY(first->property("explanationShown").toBool());
    }

    void memoryDiskAndNetworkFigures()
    {
        QQuickItem *memory = load(QStringLiteral("MemoryTabView"));
        QVERIFY(memory);
        machine->sample({0, 0, 0, 0});
        QCOMPARE(valueOf(memory, "freeLegend"), QStringLiteral("8.0 GB"));
        machine->setMemory(16, 8, 6);
        machine->sample({0, 0, 0, 0});
        QCOMPARE(memory->property("swapFill").toDouble(), 1.0);
        QCOMPARE(text(memory, "swapText"), QStringLiteral("6.0 GB of 4.0 GB"));
        machine->setMemory(16, 8, 2);
        machine->sample({0, 0, 0, 0});
        QCOMPARE(memory->property("swapFill").toDouble(), 0.5);

        QQuickItem *disk = load(QStringLiteral("DiskTabView"));
        QVERIFY(disk);
        machine->tree.write("proc/diskstats", ScreenFixture::diskStats(2662, 1024));   // 1.3 MiB read, 0.5 written
        machine->sample({0, 0, 0, 0});
        QCOMPARE(text(disk, "diskSummary"), QStringLiteral("Read 1.3 MB/s / Write 0.5 MB/s"));
        const double used = machine->stats->diskUsed() / std::max(machine->stats->diskTotal(), 1.0) * 100;
        QCOMPARE(child(disk, "diskRing")->property("label").toString(), QString::number(qint64(std::trunc(used))) + "%");

        QQuickItem *network = load(QStringLiteral("NetworkTabView"));
        QVERIFY(network);
        machine->tree.write("proc/net/dev", ScreenFixture::netDev(122880, 3215));
        machine->sample({0, 0, 0, 0});
        const QList<QObject *> rates = all(network, "networkRate");
        QCOMPARE(rates.size(), 2);
        QStringList shown{rates[0]->property("text").toString(), rates[1]->property("text").toString()};
        shown.sort();
        QCOMPARE(shown, (QStringList{"120.0 KB/s", "3.1 KB/s"}));
    }

    // The freeze button reaches the real process table, and the insight asks the co-pilot
    // once however often it is opened.
    void processRowFreezesAndAsksOnce()
    {
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(sleeper.waitForStarted());
        const int pid = int(sleeper.processId());
        machine->writeProcess(pid, "clang", 0, 100);
        machine->processes->updateProcesses();
        machine->writeProcess(pid, "clang", 100, 100);
        QTest::qWait(20);
        machine->processes->updateProcesses();

        QQuickItem *tab = load(QStringLiteral("CPUTabView"));
        QVERIFY(tab);
        QObject *row = shownRows(tab).value(0);
        QVERIFY(row);
        QCOMPARE(child(row, "freezeButton")->property("symbol").toString(), QStringLiteral("snowflake"));
        QMetaObject::invokeMethod(child(row, "freezeButton"), "clicked");
        QVERIFY(machine->processes->suspendedPids().contains(pid));
        machine->processes->updateProcesses();
        QCOMPARE(shownRows(tab).value(0), row);
        QCOMPARE(text(row, "processValue"), QStringLiteral("FROZEN"));
        QCOMPARE(child(row, "processValue")->property("color").value<QColor>(), QColor("#64d2ff"));
        QCOMPARE(child(row, "freezeButton")->property("help").toString(), QStringLiteral("Resume Process"));
        QVERIFY(!child(row, "priorityBadge")->property("visible").toBool());
        QVERIFY(child(row, "processSymbol")->property("visible").toBool());   // no image: the symbol
        QMetaObject::invokeMethod(child(row, "freezeButton"), "clicked");   // thaw before the process goes
        QVERIFY(!machine->processes->suspendedPids().contains(pid));

        QMetaObject::invokeMethod(row, "toggleExplanation");
        QTRY_COMPARE(row->property("aiExplanation").toString().isEmpty(), false);
        QMetaObject::invokeMethod(row, "toggleExplanation");
        QMetaObject::invokeMethod(row, "toggleExplanation");
        QCOMPARE(row->property("explanationRequests").toInt(), 1);
        QTest::qWait(200);
        QCOMPARE(machine->whatisCalls(), 1);
        sleeper.kill();
        sleeper.waitForFinished();
    }

    void sharedChartsClampAndSkip()
    {
        QQuickItem *line = load(QStringLiteral("SparklineView"), {{"samples", QVariantList{42.0}}});
        QVERIFY(line);
        QVERIFY(!line->property("drawsLine").toBool());
        line->setProperty("samples", QVariantList{1.0, 2.0});
        QVERIFY(line->property("drawsLine").toBool());
        QQuickItem *ring = load(QStringLiteral("RingChart"), {{"percentage", 120.0}});
        QCOMPARE(ring->property("fraction").toDouble(), 1.0);
        ring->setProperty("percentage", -5.0);
        QCOMPARE(ring->property("fraction").toDouble(), 0.0);
    }

    // The pieces every dashboard page is made of: the deletion question runs its action only
    // on "Delete" and only once; a switch the service refuses springs back; a chart scales
    // to its data unless told a top.
    void dashboardPiecesAskScaleAndSpringBack()
    {
        QQuickItem *confirm = load(QStringLiteral("ConfirmDeleteDialog"));
        QVERIFY(confirm);
        QJSEngine *js = qjsEngine(confirm);
        QJSValue ran = js->evaluate(QStringLiteral("({ count: 0 })"));
        const QJSValue action = js->evaluate(QStringLiteral("(function (state) { return function () { ++state.count } })")).call({ran});
        const QString pip = QDir::homePath() + QStringLiteral("/.cache/pip");
        const auto ask = [&] {
            QMetaObject::invokeMethod(confirm, "ask", Q_ARG(QVariant, pip), Q_ARG(QVariant, 3.2 * 1073741824),
                                      Q_ARG(QVariant, QVariant::fromValue(action)));
        };
        ask();
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(), QStringLiteral("Delete 3.2 GB in ~/.cache/pip?"));
        QMetaObject::invokeMethod(confirm, "reject");
        QTRY_VERIFY(!confirm->property("opened").toBool());
        QCOMPARE(ran.property("count").toInt(), 0);
        ask();
        QTRY_VERIFY(confirm->property("opened").toBool());
        QMetaObject::invokeMethod(confirm, "accept");
        QTRY_VERIFY(!confirm->property("opened").toBool());
        QCOMPARE(ran.property("count").toInt(), 1);
        QMetaObject::invokeMethod(confirm, "accept");   // a second answer to the same question deletes nothing more
        QCOMPARE(ran.property("count").toInt(), 1);

        QQuickItem *toggle = load(QStringLiteral("ToggleRow"), {{"text", "Low Power"}, {"checked", false}});
        QVERIFY(toggle);
        QObject *control = child(toggle, "toggleSwitch");
        QVERIFY(control);
        QSignalSpy toggled(toggle, SIGNAL(toggled(bool)));
        QMetaObject::invokeMethod(control, "toggle");
        QMetaObject::invokeMethod(control, "toggled");
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(toggled.at(0).at(0).toBool(), true);
        QCOMPARE(control->property("checked").toBool(), false);   // nobody took it up: back to off
        toggle->setProperty("checked", true);
        QCOMPARE(control->property("checked").toBool(), true);   // and it still follows the service
        toggle->setProperty("available", false);
        QVERIFY(!control->property("enabled").toBool());

        QQuickItem *chart = load(QStringLiteral("HistoryChart"), {{"values", QVariantList{2.0, 40.0, 8.0}}});
        QVERIFY(chart);
        QCOMPARE(chart->property("scaleTop").toDouble(), 44.0);
        chart->setProperty("values2", QVariantList{100.0});
        QCOMPARE(chart->property("scaleTop").toDouble(), 110.0);
        chart->setProperty("maximum", 100.0);
        QCOMPARE(chart->property("scaleTop").toDouble(), 100.0);
        chart->setProperty("values", QVariantList{});
        chart->setProperty("values2", QVariantList{});
        chart->setProperty("maximum", 0.0);
        QCOMPARE(chart->property("scaleTop").toDouble(), 1.0);   // an empty chart never divides by zero
        chart->setProperty("values", QVariantList{0.0, 0.0});
        QCOMPARE(chart->property("scaleTop").toDouble(), 1.0);   // nor does a flat zero line
    }

    // Each sidebar shows a glyph per entry that no other entry of the same sidebar shares:
    // the chip is AI Hardware's, not also Sensors' and Memory's; the presets' bolt is not the
    // relay's.
    void sidebarGlyphsAreDistinct()
    {
        for (const WorkspacePersona &persona : WorkspacePersona::allCases()) {
            const QList<SidebarEntry> entries = persona.personaTools() + persona.systemMonitorItems()
                                              + WorkspacePersona::utilityItems();
            QHash<QByteArray, QString> seen;
            QSet<QString> symbols;
            for (const SidebarEntry &entry : entries) {
                if (symbols.contains(entry.symbol))
                    continue;   // one page under two titles may share its glyph
                symbols.insert(entry.symbol);
                const QImage image = SymbolIcon::drawn(entry.symbol, 24, 1.0, Qt::white).toImage();
                const QByteArray key(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
                QVERIFY2(!seen.contains(key), qPrintable(persona.rawValue() + ": " + entry.title + " looks like " + seen.value(key)));
                seen.insert(key, entry.title);
            }
        }
    }

    void presetsScreenLogsAndModifiers()
    {
        QQuickItem *screen = load(QStringLiteral("PerformancePresetsView"));
        QVERIFY(screen);
        const QStringList initial{"macOS watchdog kernel daemon active.", "Awaiting target performance selection...",
                                  "Current profile: Vanilla Mac"};
        QCOMPARE(screen->property("executionLogs").toStringList(), initial);
        const QList<QObject *> cards = all(screen, "presetCard");
        QCOMPARE(cards.size(), 7);

        QMetaObject::invokeMethod(cards.at(4), "clicked");   // Game Mode
        const QStringList afterGameMode = initial + QStringList{"Applying Game Mode system properties...",
                                                                "Game Mode active — system RAM optimized"};
        QTRY_COMPARE(screen->property("executionLogs").toStringList(), afterGameMode);
        QCOMPARE(text(screen, "activeName"), QStringLiteral("Game Mode"));
        QVERIFY(cards.at(4)->property("isActive").toBool());

        const auto modifiers = [&] {
            QStringList values;
            for (QObject *row : all(screen, "modifierRow"))
                values << row->property("value").toString();
            return values;
        };
        QCOMPARE(modifiers(), (QStringList{"AUTO", "AUTO", "NORMAL", "DEFAULT"}));
        machine->presets->applyPreset(PerformancePreset(PerformancePreset::LocalTraining));
        const QStringList training{"AUTO", "ACTIVE (NO SHUTDOWN)", "NORMAL", "HIGH (NICE -5)"};
        QTRY_COMPARE(modifiers(), training);
        machine->presets->applyPreset(PerformancePreset(PerformancePreset::CompileMax));
        const QStringList defaults{"AUTO", "AUTO", "NORMAL", "DEFAULT"};
        QTRY_COMPARE(modifiers(), defaults);
        // Applies the screen did not ask for leave its log alone.
        QCOMPARE(screen->property("executionLogs").toStringList().size(), 5);
    }

    // A tap springs the tab fill past its button and back; the tour glides it there
    // without overshoot; a tab index the popover lacks changes nothing.
    void tabFillSpringsOnTapAndGlidesForTheTour()
    {
        QQuickItem *popover = load(QStringLiteral("PopoverView"));
        QVERIFY(popover);
        window->show();
        QObject *fill = child(popover, "tabHighlight");
        QVERIFY(fill);
        QCOMPARE(fill->property("x").toReal(), 0.0);
        const QList<QObject *> buttons = all(popover, "tabButton");
        QCOMPARE(buttons.size(), 5);
        const qreal step = buttons[1]->property("x").toReal() - buttons[0]->property("x").toReal();

        // Follows the fill until it has rested at `to` for a while; returns the furthest it went.
        const auto follow = [&](qreal from, qreal to) {
            qreal furthest = from;
            QElapsedTimer clock;
            clock.start();
            qreal last = -1;
            qint64 restingSince = 0;
            while (clock.elapsed() < 3000) {
                QTest::qWait(4);
                const qreal x = fill->property("x").toReal();
                furthest = std::max(furthest, x);
                if (x != last) {
                    last = x;
                    restingSince = clock.elapsed();
                } else if (x == to && clock.elapsed() - restingSince > 200) {
                    break;
                }
            }
            return furthest;
        };

        QMetaObject::invokeMethod(buttons[2], "picked", Q_ARG(int, 2));
        QCOMPARE(popover->property("selectedTab").toInt(), 2);
        QVERIFY(fill->property("x").toReal() < 2 * step);   // it moves, it does not jump
        const qreal sprung = follow(0, 2 * step);
        QVERIFY2(sprung > 2 * step * 1.03 && sprung < 2 * step * 1.07, qPrintable(QString::number(sprung)));
        QCOMPARE(fill->property("x").toReal(), 2 * step);

        NotificationCenter &center = machine->notifications;
        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", 4}});
        QCOMPARE(popover->property("selectedTab").toInt(), 4);
        const qreal glided = follow(2 * step, 4 * step);
        QCOMPARE(glided, 4 * step);
        QCOMPARE(fill->property("x").toReal(), 4 * step);

        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", 9}});
        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", "1"}});
        QCOMPARE(popover->property("selectedTab").toInt(), 4);
    }

    // Each engine's screens see the set installed on it, and services made on first use
    // are made once, when a screen first asks.
    void screensFindTheirEnginesServices()
    {
        QQmlComponent component(engine.get());
        component.setData("import QtQuick\nimport Quillmoor\nQtObject { property var s: Services.stats }", QUrl());
        std::unique_ptr<QObject> probe(component.create());
        QVERIFY(probe);
        QCOMPARE(probe->property("s").value<QObject *>(), machine->stats.get());

        ScreenFixture otherMachine;
        int made = 0;
        PresetManager lazy;
        QmlServices::Set set = otherMachine.services();
        set.presets = QmlServices::Ref<PresetManager>([&] { ++made; return &lazy; });
        QQmlEngine other;
        QmlServices::install(other, set);
        QQmlComponent second(&other);
        second.setData("import QtQuick\nimport Quillmoor\nQtObject { property var s: Services.stats; "
                       "property var p: Services.presets; property var q: Services.presets }", QUrl());
        QCOMPARE(made, 0);
        std::unique_ptr<QObject> probe2(second.create());
        QVERIFY(probe2);
        QCOMPARE(probe2->property("s").value<QObject *>(), otherMachine.stats.get());
        QCOMPARE(probe2->property("p").value<QObject *>(), &lazy);
        QCOMPARE(made, 1);
    }
};

QTEST_MAIN(TestViews)
#include "tst_Views.moc"
