// The AI workspace screens over the real services: a local AI service reading a fake
// model server on loopback, the latency probe and the API relay, and the process table
// and telemetry of a fixture machine.

#include "caches/BuildCacheService.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "support/FakeHttpServer.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QQuickItem>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <optional>
#include <filesystem>

#include <sys/stat.h>

namespace {
// Three models as Ollama's /api/ps lists them: one wholly in the GPU's memory and held
// forever (a negative keep-alive), one split between GPU and CPU, and one wholly in
// system memory whose expiry has passed.
QByteArray listing()
{
    return R"({"models": [
      {"name": "llama3:8b", "model": "llama3:8b", "size": 5137025024, "size_vram": 5137025024,
       "digest": "365c0bd3c000a25d28ddbf732fe1c6add414de7275464c4e4d1c3b5fcb5d8ad1",
       "details": {"format": "gguf", "parameter_size": "8.0B", "quantization_level": "Q4_0"},
       "expires_at": "2318-09-18T12:00:00Z", "context_length": 8192},
      {"name": "mixtral:8x7b", "model": "mixtral:8x7b", "size": 10000000000, "size_vram": 5200000000,
       "details": {"format": "gguf", "parameter_size": "46.7B", "quantization_level": "Q4_K_M"},
       "expires_at": "2030-01-01T00:05:00Z", "context_length": 32768},
      {"name": "phi3:mini", "model": "phi3:mini", "size": 2400000000, "size_vram": 0,
       "details": {"format": "gguf", "parameter_size": "3.8B", "quantization_level": "Q4_K_M"},
       "expires_at": "2020-01-01T00:00:00Z", "context_length": 4096}]})";
}

// What an item shows, found by the text of a named child in each row.
QStringList texts(QObject *root, const char *row, const char *name)
{
    QStringList found;
    for (QObject *item : QmlPageHarness::shown(root, row))
        found << QmlPageHarness::text(item, name);
    return found;
}

bool click(QObject *button)
{
    return button && QMetaObject::invokeMethod(button, "clicked");
}

// A check box or switch flipped as a tap flips it: the control changes, then says so.
bool flip(QObject *control)
{
    return control && QMetaObject::invokeMethod(control, "toggle") && QMetaObject::invokeMethod(control, "toggled");
}
}

class TestAIScreens : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<QProcess>> children;

    // A copy of sleep under another name, so the process table and the compile guard see
    // a real process called that.
    QProcess *startNamed(const FixtureTree &tree, const QString &name)
    {
        const QString copy = tree.path("progs/" + name);
        QDir().mkpath(tree.path("progs"));
        if (!QFileInfo::exists(copy) && !QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), copy))
            return nullptr;
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner);
        auto p = std::make_unique<QProcess>();
        p->start(copy, {QStringLiteral("60")});
        if (!p->waitForStarted())
            return nullptr;
        children.push_back(std::move(p));
        return children.back().get();
    }

    static LocalAISources liveSources(const QUrl &url)
    {
        LocalAISources s;
        s.ollamaUrl = url;
        s.searchPath = QStringList{};   // no container tool
        return s;
    }

private Q_SLOTS:
    void cleanup()
    {
        for (auto &p : children) {
            ::kill(static_cast<pid_t>(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished();
        }
        children.clear();
    }

    // Each loaded model says where its weights live, its context and when it unloads, as
    // Ollama's own client does; "Eject All" asks the server once per model.
    void modelRowsAndEjectAll()
    {
        FakeHttpServer ollama;
        ollama.reply(200, listing());
        LocalAIService localAI(liveSources(ollama.url()), LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        bool listed = false;
        localAI.updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        QCOMPARE(localAI.activeModels().size(), 3);

        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set);
        QQuickItem *card = harness.load(QStringLiteral("LoadedModelsCard"), {}, 400);
        QVERIFY(card);

        QCOMPARE(texts(card, "modelRow", "modelName"), (QStringList{"llama3:8b", "mixtral:8x7b", "phi3:mini"}));
        QCOMPARE(texts(card, "modelRow", "residency"), (QStringList{"100% GPU", "48% / 52% CPU/GPU", "100% CPU"}));
        const QStringList details = texts(card, "modelRow", "modelDetails");
        QCOMPARE(details.size(), 3);
        QCOMPARE(details[0], QStringLiteral("Context 8192 tokens · Unloads: Forever"));
        QVERIFY2(details[1].startsWith(QStringLiteral("Context 32768 tokens · Unloads: in ")), qPrintable(details[1]));
        QCOMPARE(details[2], QStringLiteral("Context 4096 tokens · Unloads: Stopping…"));
        QCOMPARE(texts(card, "modelRow", "modelSize"), (QStringList{"4.8 GB", "9.3 GB", "2.2 GB"}));
        QCOMPARE(QmlPageHarness::text(card, "modelsSummary"), QStringLiteral("Active · 3 Loaded"));
        QVERIFY(QmlPageHarness::shown(card, "modelsEmpty").isEmpty());

        // Eject All: one request per loaded model, each unloading it at once.
        QObject *ejectAll = QmlPageHarness::child(card, "ejectAllButton");
        QVERIFY(ejectAll && ejectAll->property("enabled").toBool());
        QVERIFY(click(ejectAll));
        QVERIFY(ejectAll->property("running").toBool());
        auto ejected = [&ollama] {
            QStringList names;
            for (const FakeHttpServer::Request &r : ollama.requests())
                if (r.path == "/api/generate") {
                    const QJsonObject body = QJsonDocument::fromJson(r.body).object();
                    if (body.value(QStringLiteral("keep_alive")).toInt(-1) == 0)
                        names << body.value(QStringLiteral("model")).toString();
                }
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(ejected().size(), 3, 5000);
        QStringList names = ejected();
        names.sort();
        QCOMPARE(names, (QStringList{"llama3:8b", "mixtral:8x7b", "phi3:mini"}));
        QTest::qWait(200);
        QCOMPARE(ejected().size(), 3);

        // The server now lists none: the card says so, and the button rests.
        ollama.reply(200, R"({"models": []})");
        listed = false;
        localAI.updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        QCOMPARE(QmlPageHarness::shown(card, "modelRow").size(), 0);
        QCOMPARE(QmlPageHarness::shown(card, "modelsEmpty").size(), 1);
        QVERIFY(!ejectAll->property("running").toBool());
        QVERIFY(!ejectAll->property("enabled").toBool());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

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
        BuildCacheSources cacheSources;
        cacheSources.homePath = QString::fromStdString(fixture.tree.root(""));
        cacheSources.environment = [](const char *) { return QString(); };
        cacheSources.ollamaServiceStores = {};
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
            BuildCacheSources sources;
            sources.homePath = QString::fromStdString(fixture.tree.root(""));
            sources.environment = [](const char *) { return QString(); };
            sources.ollamaServiceStores = {};
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

    // The relay's switch starts off on every new page whatever the relay does; on, it
    // routes on 11430; off, it says so and forgets the last model.
    void proxySwitch()
    {
        FakeHttpServer ollama;
        ollama.reply(200, R"({"models": []})");
        RelayTarget upstream;
        upstream.port = ollama.url().port();
        LocalAPIProxyService proxy(upstream);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        set.localAI = &localAI;
        set.proxy = &proxy;
        LatencySources latencySources;
        LocalAPILatencyService latency(latencySources, LocalAPILatencyService::Polling::Manual);
        set.latencyProbe = &latency;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("APISentinelPage"));
        QVERIFY(page);
        QObject *toggle = QmlPageHarness::child(page, "toggleSwitch");
        QVERIFY(toggle);
        QVERIFY(!toggle->property("checked").toBool());
        QCOMPARE(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Offline / Bypassed 💤"));

        QMetaObject::invokeMethod(toggle, "toggle");
        QMetaObject::invokeMethod(toggle, "toggled");
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Routing Port 11430 🚀"), 5000);
        QVERIFY(proxy.isRunning());
        QCOMPARE(proxy.listeningPort(), quint16(11430));

        // A request through the relay names its model.
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, 11430);
        QVERIFY(client.waitForConnected(3000));
        const QByteArray body = R"({"model": "llama3:8b", "prompt": "hi"})";
        client.write("POST /api/generate HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(body.size())
                     + "\r\n\r\n" + body);
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "lastRoutedModel"), QStringLiteral("llama3:8b"), 5000);
        QTRY_COMPARE(QmlPageHarness::text(page, "requestCount"), QStringLiteral("1"));
        client.close();

        // A new page over the running relay: the switch is off, the state line is true.
        {
            QQuickItem *again = harness.load(QStringLiteral("APISentinelPage"));
            QVERIFY(again);
            QVERIFY(!QmlPageHarness::property(again, "toggleSwitch", "checked").toBool());
            QCOMPARE(QmlPageHarness::text(again, "proxyState"), QStringLiteral("Routing Port 11430 🚀"));
            delete again;
        }

        toggle->setProperty("checked", false);
        QMetaObject::invokeMethod(toggle, "toggled");
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Offline / Bypassed 💤"), 5000);
        QCOMPARE(QmlPageHarness::text(page, "lastRoutedModel"), QStringLiteral("None"));
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
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

    // The hardware page names the GPU and its compute stack, and the NPU with the load its
    // driver counts; without either it says so instead of drawing a figure.
    void hardwarePage()
    {
        auto link = [](FixtureTree &tree, const QString &relative, const char *driver) {
            QDir().mkpath(QFileInfo(tree.path(relative)).absolutePath());
            std::filesystem::create_symlink(std::string("../../../bus/pci/drivers/") + driver, tree.root(relative));
        };
        ScreenFixture fixture(true, [&link](FixtureTree &tree) {
            tree.write("sys/class/drm/card1/device/vendor", "0x1002\n");
            tree.write("sys/class/drm/card1/device/device", "0x744c\n");
            tree.write("sys/class/drm/card1/device/label", "Radeon RX 7900 XTX\n");
            link(tree, "sys/class/drm/card1/device/driver", "amdgpu");
            tree.write("dev/kfd", "");
            link(tree, "sys/class/accel/accel0/device/driver", "intel_vpu");
            tree.write("sys/class/accel/accel0/device/npu_busy_time_us", "1000000\n");
        });
        fixture.tree.write("sys/class/accel/accel0/device/npu_busy_time_us", "1250000\n");
        fixture.sample({10, 10, 10, 10});   // a second on, a quarter of it busy
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(page);
        QCOMPARE(QmlPageHarness::text(page, "gpuName"), QStringLiteral("Radeon RX 7900 XTX"));
        QCOMPARE(QmlPageHarness::text(page, "computeStack"), QStringLiteral("ROCm Hardware Acceleration"));
        // amdgpu's load file is absent here: the figure is an estimate and says so.
        QVERIFY2(QmlPageHarness::text(page, "gpuLoad").startsWith(QStringLiteral("≈ ")), qPrintable(QmlPageHarness::text(page, "gpuLoad")));
        QVERIFY(QmlPageHarness::shown(page, "gpuCores").isEmpty());
        QCOMPARE(QmlPageHarness::text(page, "npuName"), QStringLiteral("Intel NPU"));
        QCOMPARE(QmlPageHarness::text(page, "npuLoad"), QStringLiteral("25.0%"));
        QCOMPARE(QmlPageHarness::shown(page, "npuRing").size(), 1);
        QVERIFY(QmlPageHarness::shown(page, "npuCaption").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));

        ScreenFixture bare;
        QmlServices::Set bareSet = bare.services();
        bareSet.localAI = &localAI;
        QmlPageHarness bareHarness(bareSet);
        QQuickItem *plain = bareHarness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(plain);
        QCOMPARE(QmlPageHarness::text(plain, "gpuName"), QStringLiteral("No GPU found"));
        QCOMPARE(QmlPageHarness::text(plain, "npuName"), QStringLiteral("No neural engine on this machine"));
        QVERIFY(QmlPageHarness::shown(plain, "npuLoad").isEmpty());
        QVERIFY(QmlPageHarness::shown(plain, "npuRing").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // "Deduplicate" asks first, naming the files and the bytes, then links the copy to the
    // other store's file: both paths still read the same weights, and nothing is deleted.
    void deduplicateAfterConfirmation()
    {
        ScreenFixture fixture;
        const QByteArray weights(256 * 1024, 'w');
        const QByteArray other(128 * 1024, 'o');
        const QString digest = QCryptographicHash::hash(weights, QCryptographicHash::Sha256).toHex();
        const QString otherDigest = QCryptographicHash::hash(other, QCryptographicHash::Sha256).toHex();
        const QString ollamaBlob = ".ollama/models/blobs/sha256-" + digest;
        const QString hubBlob = ".cache/huggingface/hub/models--org--llama/blobs/" + digest;
        const QString hubOther = ".cache/huggingface/hub/models--org--llama/blobs/" + otherDigest;
        fixture.tree.write(ollamaBlob, weights);
        fixture.tree.write(hubBlob, weights);
        fixture.tree.write(hubOther, other);

        BuildCacheSources sources;
        sources.homePath = QString::fromStdString(fixture.tree.root(""));
        sources.environment = [](const char *) { return QString(); };
        sources.ollamaServiceStores = {};
        BuildCacheService caches(sources, BuildCacheService::Polling::Manual);
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        set.buildCaches = &caches;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIModelsPage"));
        QVERIFY(page);
        localAI.setDemoMode(false);

        QObject *button = QmlPageHarness::child(page, "deduplicateButton");
        QObject *dialog = QmlPageHarness::child(page, "confirmLink");
        QVERIFY(button && dialog);
        QVERIFY(click(button));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);
        QCOMPARE(caches.duplicateWeights().size(), 1);
        QCOMPARE(caches.duplicateWeights().first().size, qint64(weights.size()));
        // Cancelled: nothing changes.
        QMetaObject::invokeMethod(dialog, "reject");
        QTRY_VERIFY(!dialog->property("opened").toBool());
        QFileInfo before(fixture.tree.path(ollamaBlob)), beforeHub(fixture.tree.path(hubBlob));
        QVERIFY(before.exists() && beforeHub.exists());
        QCOMPARE(before.fileTime(QFileDevice::FileModificationTime).isValid(), true);
        struct stat a {}, b {};
        QCOMPARE(::stat(fixture.tree.root(ollamaBlob).c_str(), &a), 0);
        QCOMPARE(::stat(fixture.tree.root(hubBlob).c_str(), &b), 0);
        QVERIFY(a.st_ino != b.st_ino);

        QVERIFY(click(button));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);
        QVERIFY2(QmlPageHarness::text(page, "linkQuestion").contains(QStringLiteral("256 KB")),
                 qPrintable(QmlPageHarness::text(page, "linkQuestion")));
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_VERIFY_WITH_TIMEOUT(QmlPageHarness::text(page, "dedupeMessage").startsWith(QStringLiteral("Reclaimed")), 5000);
        QTRY_VERIFY(!button->property("running").toBool());
        QCOMPARE(::stat(fixture.tree.root(ollamaBlob).c_str(), &a), 0);
        QCOMPARE(::stat(fixture.tree.root(hubBlob).c_str(), &b), 0);
        QCOMPARE(a.st_ino, b.st_ino);
        for (const QString &path : {ollamaBlob, hubBlob}) {
            QFile f(fixture.tree.path(path));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), weights);
        }
        QFile distinct(fixture.tree.path(hubOther));
        QVERIFY(distinct.open(QIODevice::ReadOnly));
        QCOMPARE(distinct.readAll(), other);

        // Nothing left to link: the page says so.
        QVERIFY(click(button));
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "dedupeMessage"), QStringLiteral("No duplicate weights found"), 5000);
        QVERIFY(!dialog->property("opened").toBool());
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
        BuildCacheSources cacheSources;
        cacheSources.homePath = fixture.tree.path();
        cacheSources.environment = [](const char *) { return QString(); };
        cacheSources.ollamaServiceStores = {};
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

    void recognisesAIBackends()
    {
        for (const char *name : {"python3", "Python", "conda", "ollama", "llama-server", "ollama_llama_se", "miniconda3"})
            QVERIFY2(QmlServices::isAIBackend(QLatin1String(name)), name);
        for (const char *name : {"bash", "node", "clang", "Xorg", "pyth", ""})
            QVERIFY2(!QmlServices::isAIBackend(QLatin1String(name)), name);
    }
};

QTEST_MAIN(TestAIScreens)
#include "tst_AIScreens.moc"
