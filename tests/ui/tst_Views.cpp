#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "presets/PresetManager.h"
#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QElapsedTimer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlPropertyMap>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The process table as the screens read it, with the freeze calls it was asked for.
class FakeProcessMonitor : public QQmlPropertyMap
{
    Q_OBJECT
public:
    FakeProcessMonitor() : QQmlPropertyMap(this, nullptr)
    {
        insert(QStringLiteral("topProcesses"), QVariantList{});
        insert(QStringLiteral("isPaused"), false);
    }
    Q_INVOKABLE void toggleSuspend(int pid) { toggled.append(pid); }
    QList<int> toggled;
};

// The co-pilot, answering at once and counting the questions.
class FakeAI : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void explainProcess(const QString &name)
    {
        ++asked;
        Q_EMIT processExplained(name, QStringLiteral("It compiles things."));
    }
    int asked = 0;
Q_SIGNALS:
    void processExplained(const QString &name, const QString &explanation);
};

QVariantMap process(int pid, const QString &name, double cpu, bool suspended = false)
{
    return {{"id", pid}, {"name", name}, {"fullPath", "/usr/bin/" + name}, {"cpuUsage", cpu},
            {"energyImpact", cpu / 2}, {"icon", QString()}, {"isSuspended", suspended}, {"totalBatteryDrain", 0.0},
            {"memoryBytes", qint64(pid) * 1024 * 1024 * 128}};
}
}

class TestViews : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<ThemeManager> theme;
    std::unique_ptr<QQmlPropertyMap> stats;
    std::unique_ptr<FakeProcessMonitor> processes;
    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;
    std::unique_ptr<PresetManager> presets;
    FakeAI ai;

    QQuickItem *load(const QString &view, const QVariantMap &extra = {})
    {
        QQmlComponent component(engine.get(), QUrl(QStringLiteral("qrc:/Quillmoor/%1.qml").arg(view)));
        QVariantMap properties = extra;
        if (view == QLatin1String("PerformancePresetsView")) {
            properties.insert("presetManager", QVariant::fromValue<QObject *>(presets.get()));
            properties.insert("theme", QVariant::fromValue<QObject *>(theme.get()));
        }
        if (view.endsWith(QLatin1String("TabView"))) {
            properties.insert("stats", QVariant::fromValue<QObject *>(stats.get()));
            properties.insert("processMonitor", QVariant::fromValue<QObject *>(processes.get()));
            properties.insert("theme", QVariant::fromValue<QObject *>(theme.get()));
            properties.insert("preferences", QVariant::fromValue<QObject *>(preferences.get()));
            properties.insert("aiService", QVariant::fromValue<QObject *>(&ai));
        }
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
    static int rowsIn(QObject *root)
    {
        int rows = 0;
        for (QObject *item : all(root, "processName"))
            rows += item->property("visible").toBool() ? 1 : 0;
        return rows;
    }

private Q_SLOTS:
    void init()
    {
        preferences = std::make_unique<Preferences>(new QSettings(dir.filePath("p.conf"), QSettings::IniFormat));
        preferences->setAdvancedMode(false);
        theme = std::make_unique<ThemeManager>(*preferences);
        stats = std::make_unique<QQmlPropertyMap>();
        const QVariantMap figures{{"cpuUsage", 50.0}, {"cpuHistory", QVariantList{10.0, 20.0, 30.0}},
                                  {"socTemperature", 61.7}, {"cpuFrequencyGHz", 2.41},
                                  {"perCoreUsage", QVariantList{10.0, 90.0, 40.0, 60.0}},
                                  {"efficiencyCores", QVariantList{false, false, true, true}},
                                  {"eCoreCount", 2}, {"pCoreCount", 2}, {"eClusterUsage", 50.0}, {"pClusterUsage", 50.0},
                                  {"fanRPMs", QVariantList{2150.7}}, {"fanRPMsMeasured", true},
                                  {"throttlingStatus", 0.0}, {"gpuTemperature", 55.9},
                                  {"memoryPressure", 40.0}, {"memoryUsed", 8.0}, {"memoryTotal", 16.0},
                                  {"memoryApp", 5.0}, {"memoryWired", 2.0}, {"memoryCompressed", 1.0}, {"memorySwap", 0.0},
                                  {"diskUsed", 100.0}, {"diskTotal", 400.0}, {"diskRead", 1.25}, {"diskWrite", 0.5},
                                  {"diskThroughputMeasured", true},
                                  {"networkUpload", 3.14}, {"networkDownload", 120.0},
                                  {"localIP", "192.168.1.20"}, {"publicIP", "203.0.113.9"}};
        for (auto it = figures.cbegin(); it != figures.cend(); ++it)
            stats->insert(it.key(), it.value());
        processes = std::make_unique<FakeProcessMonitor>();
        engine = std::make_unique<QQmlEngine>();
        engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
        window = std::make_unique<QQuickWindow>();
        window->resize(320, 620);
        ai.asked = 0;
        presets = std::make_unique<PresetManager>();   // no logind, no power daemon, no terminal
    }

    void cleanup()
    {
        window.reset();
        engine.reset();
        presets.reset();
    }

    void cpuTabFigures()
    {
        QQuickItem *tab = load(QStringLiteral("CPUTabView"));
        QVERIFY(tab);
        QCOMPARE(valueOf(tab, "userLegend"), QStringLiteral("30%"));
        QCOMPARE(valueOf(tab, "systemLegend"), QStringLiteral("20%"));
        QCOMPARE(text(tab, "clockText"), QStringLiteral("2.41 GHz, 61°"));
        stats->insert("cpuFrequencyGHz", 0.0);   // no cpufreq: no made-up clock
        QCOMPARE(text(tab, "clockText"), QStringLiteral("61°"));

        QVERIFY(!child(tab, "advancedHardware")->property("visible").toBool());
        preferences->setAdvancedMode(true);
        QVERIFY(child(tab, "advancedHardware")->property("visible").toBool());
        QCOMPARE(valueOf(tab, "fanRow"), QStringLiteral("2150 RPM"));
        QCOMPARE(valueOf(tab, "throttleRow"), QStringLiteral("0%"));
        QCOMPARE(child(tab, "throttleRow")->property("valueColor").value<QColor>(), QColor(theme->textColor()));
        stats->insert("throttlingStatus", 0.4);
        QCOMPARE(valueOf(tab, "throttleRow"), QStringLiteral("0%"));
        QCOMPARE(child(tab, "throttleRow")->property("valueColor").value<QColor>(), QColor("#ff453a"));
        stats->insert("fanRPMsMeasured", false);
        QCOMPARE(valueOf(tab, "fanRow"), QStringLiteral("≈ 2150 RPM"));

        // A new sample updates the gauges in place rather than building them again.
        QObject *pressure = child(tab, "ringLabel");
        QVERIFY(pressure);
        QCOMPARE(pressure->property("text").toString(), QStringLiteral("40%"));
        stats->insert("memoryPressure", 91.0);
        QCOMPARE(child(tab, "ringLabel"), pressure);
        QCOMPARE(pressure->property("text").toString(), QStringLiteral("91%"));

        QCOMPARE(rowsIn(tab), 0);   // an empty table lists nothing
        processes->insert("topProcesses", QVariantList{process(11, "a", 12.34), process(12, "b", 2), process(13, "c", 1),
                                                      process(14, "d", 1), process(15, "e", 1)});
        QCOMPARE(rowsIn(tab), 4);
        QCOMPARE(text(tab, "processValue"), QStringLiteral("12.3%"));
        QCOMPARE(text(tab, "processesHeader"), QStringLiteral("PROCESSES"));
        processes->insert("isPaused", true);
        QCOMPARE(text(tab, "processesHeader"), QStringLiteral("PROCESSES (Paused for interaction)"));
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

    void memoryAndDiskEdges()
    {
        QQuickItem *memory = load(QStringLiteral("MemoryTabView"));
        QVERIFY(memory);
        QCOMPARE(valueOf(memory, "freeLegend"), QStringLiteral("8.0 GB"));
        stats->insert("memorySwap", 6.0);
        QCOMPARE(memory->property("swapFill").toDouble(), 1.0);
        QCOMPARE(text(memory, "swapText"), QStringLiteral("6.0 GB of 4.0 GB"));
        stats->insert("memorySwap", 2.0);
        QCOMPARE(memory->property("swapFill").toDouble(), 0.5);
        processes->insert("topProcesses", QVariantList{process(12, "java", 80)});
        QCOMPARE(text(memory, "processValue"), QStringLiteral("1.5 GB"));   // its resident memory
        stats->insert("memoryUsed", 20.0);   // more than the total: free is 0, not negative
        QCOMPARE(valueOf(memory, "freeLegend"), QStringLiteral("0.0 GB"));

        QQuickItem *disk = load(QStringLiteral("DiskTabView"));
        QCOMPARE(child(disk, "diskRing")->property("label").toString(), QStringLiteral("25%"));
        stats->insert("diskTotal", 0.0);
        stats->insert("diskUsed", 0.0);
        QCOMPARE(child(disk, "diskRing")->property("label").toString(), QStringLiteral("0%"));
        QCOMPARE(text(disk, "diskSummary"), QStringLiteral("Read 1.3 MB/s / Write 0.5 MB/s"));

        QQuickItem *network = load(QStringLiteral("NetworkTabView"));
        QCOMPARE(valueOf(network, "localAddress"), QStringLiteral("192.168.1.20"));
        const QList<QObject *> rates = all(network, "networkRate");
        QCOMPARE(rates.size(), 2);
        QCOMPARE(rates.at(0)->property("text").toString(), QStringLiteral("3.1 KB/s"));
    }

    void processRowFreezesAndAsksOnce()
    {
        QQuickItem *row = load(QStringLiteral("ProcessRow"),
                               {{"name", "clang"}, {"value", "4.0%"}, {"isSuspended", true}, {"canToggleSuspend", true},
                                {"theme", QVariant::fromValue<QObject *>(theme.get())},
                                {"aiService", QVariant::fromValue<QObject *>(&ai)}});
        QVERIFY(row);
        QCOMPARE(text(row, "processValue"), QStringLiteral("FROZEN"));
        QCOMPARE(child(row, "processValue")->property("color").value<QColor>(), QColor("#64d2ff"));
        QCOMPARE(child(row, "processName")->property("color").value<QColor>(), QColor("#0a84ff"));
        QCOMPARE(child(row, "freezeButton")->property("symbol").toString(), QStringLiteral("play.fill"));
        QCOMPARE(child(row, "freezeButton")->property("help").toString(), QStringLiteral("Resume Process"));
        QVERIFY(!child(row, "priorityBadge")->property("visible").toBool());
        QVERIFY(child(row, "processSymbol")->property("visible").toBool());   // no image: the symbol

        QMetaObject::invokeMethod(row, "toggleExplanation");
        QCOMPARE(row->property("aiExplanation").toString(), QStringLiteral("It compiles things."));
        QMetaObject::invokeMethod(row, "toggleExplanation");
        QMetaObject::invokeMethod(row, "toggleExplanation");
        QCOMPARE(ai.asked, 1);

        row->setProperty("isSuspended", false);
        row->setProperty("canToggleSuspend", false);
        QCOMPARE(text(row, "processValue"), QStringLiteral("4.0%"));
        QVERIFY(!child(row, "freezeButton")->property("visible").toBool());
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

        const auto modifiers = [&] {
            QStringList values;
            for (QObject *row : all(screen, "modifierRow"))
                values << row->property("value").toString();
            return values;
        };
        QCOMPARE(modifiers(), (QStringList{"AUTO", "AUTO", "NORMAL", "DEFAULT"}));
        presets->applyPreset(PerformancePreset(PerformancePreset::LocalTraining));
        const QStringList training{"AUTO", "ACTIVE (NO SHUTDOWN)", "NORMAL", "HIGH (NICE -5)"};
        QTRY_COMPARE(modifiers(), training);
        presets->applyPreset(PerformancePreset(PerformancePreset::CompileMax));
        const QStringList defaults{"AUTO", "AUTO", "NORMAL", "DEFAULT"};
        QTRY_COMPARE(modifiers(), defaults);
        // Applies the screen did not ask for leave its log alone.
        QCOMPARE(screen->property("executionLogs").toStringList().size(), 5);
    }

    // A tap springs the tab fill past its button and back; the tour glides it there
    // without overshoot; a tab index the popover lacks changes nothing.
    void tabFillSpringsOnTapAndGlidesForTheTour()
    {
        NotificationCenter center;
        QmlServices::install(*engine, {stats.get(), processes.get(), theme.get(), preferences.get(), &center, &ai,
                                       presets.get(), nullptr});
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

        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", 4}});
        QCOMPARE(popover->property("selectedTab").toInt(), 4);
        const qreal glided = follow(2 * step, 4 * step);
        QCOMPARE(glided, 4 * step);
        QCOMPARE(fill->property("x").toReal(), 4 * step);

        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", 9}});
        center.post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", "1"}});
        QCOMPARE(popover->property("selectedTab").toInt(), 4);
    }

    void screensFindTheirEnginesServices()
    {
        QmlServices::install(*engine, {stats.get(), processes.get(), theme.get(), preferences.get(), nullptr, &ai,
                                       presets.get(), nullptr});
        QQuickItem *popover = load(QStringLiteral("PopoverView"));
        QVERIFY(popover);
        QCOMPARE(popover->property("stats").value<QObject *>(), stats.get());
        QCOMPARE(popover->property("aiService").value<QObject *>(), &ai);
        // A second engine with its own set sees only that one.
        QQmlEngine other;
        QQmlPropertyMap otherStats;
        QmlServices::install(other, {&otherStats, processes.get(), theme.get(), preferences.get(), nullptr, &ai,
                                     presets.get(), nullptr});
        QQmlComponent component(&other);
        component.setData("import QtQuick\nimport Quillmoor\nQtObject { property var s: Services.stats }", QUrl());
        std::unique_ptr<QObject> probe(component.create());
        QVERIFY(probe);
        QCOMPARE(probe->property("s").value<QObject *>(), &otherStats);
    }
};

QTEST_MAIN(TestViews)
#include "tst_Views.moc"
